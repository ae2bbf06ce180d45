#include "view/NoteTable.h"

// Frequencies to about seven significant digits: these values, not a formula,
// are what the readout measures against.
const double g_dNoteHz[kNoteCount] = {
    27.5,     29.13524, 30.8677,  32.7032,  34.64783, 36.7081,  38.89087, 41.20344,
    43.65353, 46.2493,  48.99943, 51.91309, 55.0,     58.27047, 61.73541, 65.40639,
    69.29566, 73.41619, 77.78175, 82.40689, 87.30706, 92.49861, 97.99886, 103.8262,
    110.0,    116.5409, 123.4708, 130.8128, 138.5913, 146.8324, 155.5635, 164.8138,
    174.6141, 184.9972, 195.9977, 207.6523, 220.0,    233.0819, 246.9417, 261.6256,
    277.1826, 293.6648, 311.127,  329.6276, 349.2282, 369.9944, 391.9954, 415.3047,
    440.0,    466.1638, 493.8833, 523.2511, 554.3653, 587.3295, 622.254,  659.2551,
    698.4565, 739.9888, 783.9909, 830.6094, 880.0,    932.3275, 987.7666, 1046.502};

const char g_szNoteName[kNoteCount][4] = {
    "A",  "A#", "B",  "C",  "C#", "D",  "D#", "E",  "F",  "F#", "G",  "G#", "A",  "A#", "B",  "C",
    "C#", "D",  "D#", "E",  "F",  "F#", "G",  "G#", "A",  "A#", "B",  "C",  "C#", "D",  "D#", "E",
    "F",  "F#", "G",  "G#", "A",  "A#", "B",  "C",  "C#", "D",  "D#", "E",  "F",  "F#", "G",  "G#",
    "A",  "A#", "B",  "C",  "C#", "D",  "D#", "E",  "F",  "F#", "G",  "G#", "A",  "A#", "B",  "OR"};

int FindNearestNote(double dHz) {
    int u = 0;
    while (u < kNoteCount && !(g_dNoteHz[u] > dHz)) {
        ++u;
    }
    if (u == 0) {
        return 0;
    }
    if (u == kNoteCount) {
        return kNoteCount - 1;
    }
    return g_dNoteHz[u] - dHz > dHz - g_dNoteHz[u - 1] ? u - 1 : u;
}
