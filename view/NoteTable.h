#pragma once

// The equal-tempered notes from 27.5 Hz (A) upward, one a semitone, with A at
// 440 Hz. Entry 63, the C above entry 51, is named "OR": out of range, since no
// peak is named C at that height.
constexpr int kNoteCount = 64;
extern const double g_dNoteHz[kNoteCount];
extern const char g_szNoteName[kNoteCount][4];

// The entry nearest to dHz; an exact tie goes to the upper note. Below the table
// the result is 0, above it 63.
int FindNearestNote(double dHz);
