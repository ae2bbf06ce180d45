#pragma once

// The settings of a run, the master copy the main window keeps: each control
// is read into its field (ReadSettings) and from there pushed into the
// engine, its two channels and the view. Nobody else reads a control.
struct SDialogSettings {
    int m_nSampleRate = 44100;
    int m_nFftSize = 4096;
    int m_nSpanLowHz = 40;
    int m_nSpanHighHz = 16000;
    int m_nYScale = 100;
    int m_nInertia = 3;
    int m_nOffsetRight = 100;
    int m_nOffset = 100;
    bool m_bStereo = false;
    bool m_bFastAttack = false;
    bool m_bHold = false;
    int m_nWindowType = 2;
    int m_nMinXSpace = 2;
    bool m_bPinkToFlat = false;
    int m_nLengthMs = 93;
};
