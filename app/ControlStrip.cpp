#include "app/ControlStrip.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>
#include <iterator>

#include "app/AccelSpinBox.h"
#include "app/DeviceListBox.h"
#include "app/DialogUnits.h"
#include "app/RunSetup.h"
#include "app/StripStyle.h"
#include "view/SpectrumView.h"

using EGroup = CControlStrip::EGroup;

enum class EKind : int { Label, LabelRight, List, Spin, Check, Button };

// How fast a spin's step grows while an arrow is held.
enum class EAccel {
    Default, // the up-down control's own
    Ones,    // 1 at all times
    Tens,    // 1 at once, 10 after 2 s
    Hundreds // 1 at once, 10 after 2 s, 100 after 5 s
};

// What a spin box holds besides its buddy edit: the up-down control, and the
// range, position and acceleration the program starts with.
struct SSpinPart {
    int nUpDownId = 0;
    QRect rcDlu;
    QPoint ptLaid;
    int nLow = 0;
    int nHigh = 0;
    int nPos = 0;
    EAccel eAccel = EAccel::Default;
};

// One control: its identifier (a spin's edit), kind, caption (or the name a
// screen reader gives it), template rectangle in dialog units, where the
// layout keeps it (pixels from the left edge, pixels up from the bottom edge),
// group, and the label that captions it for screen readers.
struct SControlRow {
    int nId;
    EKind eKind;
    const char* pszText;
    QRect rcDlu;
    QPoint ptLaid;
    EGroup eGroup;
    int nLabelId = 0;
    SSpinPart spin{};
};

namespace {

constexpr int kListClosedHeight = 21;
constexpr EGroup kSetup = EGroup::Setup;
constexpr EGroup kAnalysis = EGroup::Analysis;
constexpr EGroup kStereoOnly = EGroup::StereoOnly;

// The controls in the template's order, which is also the tab order.
// clang-format off
const SControlRow kControls[] = {
    {IDC_LABEL_DEVICE,  EKind::LabelRight, "Capture device:", {5, 105, 68, 8},    {12, 44},  kSetup},
    {IDC_LIST_DEVICE,   EKind::List,       nullptr,           {75, 105, 155, 62}, {120, 48}, kSetup, IDC_LABEL_DEVICE},
    {IDC_LABEL_RATE,    EKind::LabelRight, "Sample rate:",    {5, 127, 68, 8},    {12, 18},  kSetup},
    {IDC_LIST_RATE,     EKind::List,       nullptr,           {75, 125, 47, 59},  {120, 22}, kSetup, IDC_LABEL_RATE},
    {IDC_LABEL_SAMPLES, EKind::Label,      "Samples:",        {143, 127, 30, 8},  {240, 18}, kSetup},
    {IDC_LIST_SAMPLES,  EKind::List,       nullptr,           {177, 125, 38, 59}, {296, 22}, kSetup, IDC_LABEL_SAMPLES},
    {IDC_START,         EKind::Button,     "&Start",          {240, 125, 40, 15}, {396, 24}, kSetup},

    {IDC_EDIT_SPAN_LOW, EKind::Spin, "Frequency span, low edge (Hz)", {19, 204, 31, 12}, {25, 29}, kAnalysis, 0,
     {IDC_SPIN_SPAN_LOW, {5, 200, 11, 14}, {6, 31}, 5, 22050, 40, EAccel::Hundreds}},
    {IDC_EDIT_SPAN_HIGH, EKind::Spin, "Frequency span, high edge (Hz)", {69, 204, 32, 12}, {97, 29}, kAnalysis, 0,
     {IDC_SPIN_SPAN_HIGH, {55, 200, 11, 14}, {78, 31}, 5, 22050, 16000, EAccel::Hundreds}},
    {IDC_EDIT_INERTIA, EKind::Spin, nullptr, {129, 204, 16, 12}, {169, 29}, kAnalysis, IDC_LABEL_INERTIA,
     {IDC_SPIN_INERTIA, {115, 200, 11, 14}, {150, 31}, 1, 1000, 3, EAccel::Default}},
    {IDC_CHECK_PEAKS, EKind::Check, "Pks", {152, 198, 26, 12}, {197, 52}, kAnalysis},
    {IDC_EDIT_LENGTH, EKind::Spin, nullptr, {197, 203, 22, 12}, {284, 29}, kAnalysis, IDC_LABEL_LENGTH,
     {IDC_SPIN_LENGTH, {186, 203, 11, 14}, {265, 31}, 1, 93, 93, EAccel::Default}},
    {IDC_EDIT_YSCALE, EKind::Spin, nullptr, {219, 204, 23, 12}, {354, 29}, kAnalysis, IDC_LABEL_YSCALE,
     {IDC_SPIN_YSCALE, {205, 200, 11, 14}, {335, 31}, 1, 500, 100, EAccel::Ones}},
    {IDC_EDIT_OFFSET, EKind::Spin, nullptr, {263, 204, 23, 12}, {419, 29}, kAnalysis, IDC_LABEL_OFFSET,
     {IDC_SPIN_OFFSET, {250, 200, 11, 14}, {400, 31}, 0, 1000, 100, EAccel::Tens}},
    {IDC_CHECK_STEREO, EKind::Check, "Stereo?", {303, 204, 44, 12}, {463, 51}, kAnalysis},
    // "Stereo?" captions the right offset: a label of its own would stand
    // over "Window function:" in short windows.
    {IDC_EDIT_OFFSET_RIGHT, EKind::Spin, "Offset (R)", {364, 204, 23, 12}, {482, 29}, kStereoOnly, 0,
     {IDC_SPIN_OFFSET_RIGHT, {350, 205, 11, 14}, {463, 31}, 0, 1000, 100, EAccel::Tens}},
    {IDC_LABEL_SPAN,        EKind::Label,  "Frequency span:",  {5, 182, 62, 8},    {6, 48},   kAnalysis},
    {IDC_LABEL_INERTIA,     EKind::Label,  "Inertia:",         {115, 182, 24, 8},  {150, 48}, kAnalysis},
    {IDC_LABEL_YSCALE,      EKind::Label,  "Y-scale:",         {214, 190, 33, 8},  {338, 48}, kAnalysis},
    {IDC_LABEL_OFFSET,      EKind::Label,  "Offset",           {257, 190, 33, 8},  {401, 48}, kAnalysis},
    {IDC_LIST_WINDOW,       EKind::List,   nullptr,            {395, 205, 55, 62}, {550, 29}, kAnalysis, IDC_LABEL_WINDOW},
    {IDC_LABEL_WINDOW,      EKind::Label,  "Window function:", {395, 195, 60, 8},  {550, 48}, kAnalysis},
    {IDC_STOP,              EKind::Button, "S&top",            {478, 172, 40, 15}, {720, 31}, kAnalysis},
    {IDC_EDIT_MIN_X_SPACE, EKind::Spin, nullptr, {470, 204, 23, 12}, {669, 29}, kAnalysis, IDC_LABEL_MIN_X_SPACE,
     {IDC_SPIN_MIN_X_SPACE, {456, 205, 11, 14}, {650, 31}, 0, 1000, 2, EAccel::Tens}},
    {IDC_LABEL_MIN_X_SPACE, EKind::Label,  "Min X-space",      {455, 190, 44, 8},  {650, 48}, kAnalysis},
    {IDC_LABEL_LENGTH,      EKind::Label,  "Length (ms):",     {159, 182, 38, 8},  {266, 48}, kAnalysis},
    {IDC_CHECK_HOLD,        EKind::Check,  "Hold",             {151, 207, 30, 12}, {197, 36}, kAnalysis},
    {IDC_CHECK_PINK_TO_FLAT, EKind::Check, "Pink 2 Flat",      {150, 217, 47, 12}, {197, 20}, kAnalysis},
};
// clang-format on

std::vector<CAccelSpinBox::SAccel> AccelSteps(EAccel eAccel) {
    switch (eAccel) {
    case EAccel::Ones:
        return {{0, 1}};
    case EAccel::Tens:
        return {{0, 1}, {2, 10}};
    case EAccel::Hundreds:
        return {{0, 1}, {2, 10}, {5, 100}};
    case EAccel::Default:
        break;
    }
    return CAccelSpinBox::DefaultAccel();
}

QRect ToPx(const QRect& rcDlu) {
    return DluToPx(rcDlu.x(), rcDlu.y(), rcDlu.width(), rcDlu.height());
}

} // namespace

QStringList CControlStrip::WindowFunctionNames() {
    return {QStringLiteral("Rectangular"), QStringLiteral("Triangular"), QStringLiteral("Hanning"),
            QStringLiteral("Hamming")};
}

CControlStrip::CControlStrip(QWidget* pWindow, CSpectrumView* pView)
    : m_pWindow(pWindow), m_pView(pView) {
    m_pWindow->setFont(DialogFont());
    Bind(IDC_VIEW, m_pView);
    m_pView->setGeometry(DluToPx(7, 7, 399, 88));
    MakeControls();
    MakeHelpButton();
    NameControls();
    // The template shows the set-up group and hides the analysis group.
    for (int nId : Group(EGroup::Analysis))
        m_controls[nId]->hide();
}

void CControlStrip::Bind(int nId, QWidget* pWidget) {
    m_controls[nId] = pWidget;
    pWidget->setObjectName(QStringLiteral("control%1").arg(nId));
}

void CControlStrip::MakeControls() {
    for (const SControlRow& row : kControls) {
        QWidget* pControl = MakeControl(row);
        m_controls[row.nId] = pControl;
        // A spin box is named after its up-down control.
        Bind(row.eKind == EKind::Spin ? row.spin.nUpDownId : row.nId, pControl);
    }
}

// A control at its template size, with the place the layout keeps it at
// from the left and bottom edges.
QWidget* CControlStrip::MakeControl(const SControlRow& row) {
    const QString strText = QString::fromUtf8(row.pszText);
    const QRect rc = ToPx(row.rcDlu);
    switch (row.eKind) {
    case EKind::Label:
    case EKind::LabelRight: {
        auto* pLabel = new QLabel(strText, m_pWindow);
        pLabel->setGeometry(rc);
        const Qt::Alignment align = row.eKind == EKind::LabelRight ? Qt::AlignRight : Qt::AlignLeft;
        pLabel->setAlignment(align | Qt::AlignVCenter);
        m_placements.push_back({pLabel, row.ptLaid.x(), row.ptLaid.y()});
        return pLabel;
    }
    case EKind::List: {
        QComboBox* pList = nullptr;
        if (row.nId == IDC_LIST_DEVICE) {
            pList = m_pDeviceList = new CDeviceListBox(m_pWindow);
        } else {
            pList = new QComboBox(m_pWindow);
            pList->addItems(row.nId == IDC_LIST_RATE      ? SampleRateEntries()
                            : row.nId == IDC_LIST_SAMPLES ? FftSizeEntries()
                                                          : CControlStrip::WindowFunctionNames());
        }
        pList->setEditable(false);
        pList->setGeometry(rc.x(), rc.y(), rc.width(), kListClosedHeight);
        // The template height is the height of the opened list.
        const int nItemHeight = pList->fontMetrics().height() + 2;
        pList->setMaxVisibleItems(std::max(4, (rc.height() - kListClosedHeight) / nItemHeight));
        m_placements.push_back({pList, row.ptLaid.x(), row.ptLaid.y()});
        return pList;
    }
    case EKind::Spin: {
        // One spin box covers the places of the up-down control and its edit.
        const QRect rcSpin = ToPx(row.spin.rcDlu);
        auto* pSpin = new CAccelSpinBox(m_pWindow);
        pSpin->setGeometry(rc.united(rcSpin));
        pSpin->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        const QRect rcLaidEdit(QPoint(row.ptLaid.x(), -row.ptLaid.y()), rc.size());
        const QRect rcLaidSpin(QPoint(row.spin.ptLaid.x(), -row.spin.ptLaid.y()), rcSpin.size());
        const QRect rcLaid = rcLaidEdit.united(rcLaidSpin);
        pSpin->resize(rcLaid.size());
        m_placements.push_back({pSpin, rcLaid.x(), -rcLaid.y()});
        return pSpin;
    }
    case EKind::Check: {
        auto* pCheck = new QCheckBox(strText, m_pWindow);
        pCheck->setStyle(CStripStyle::Instance());
        pCheck->setGeometry(rc);
        m_placements.push_back({pCheck, row.ptLaid.x(), row.ptLaid.y()});
        return pCheck;
    }
    case EKind::Button: {
        auto* pButton = new QPushButton(strText, m_pWindow);
        pButton->setGeometry(rc);
        // Enter must never press a button of this window.
        pButton->setAutoDefault(false);
        pButton->setDefault(false);
        m_placements.push_back({pButton, row.ptLaid.x(), row.ptLaid.y()});
        return pButton;
    }
    }
    return nullptr;
}

// A screen reader names each control after the label that captions it, or by
// the name the table gives it where the caption is shared or hidden.
void CControlStrip::NameControls() {
    for (const SControlRow& row : kControls) {
        QWidget* pControl = m_controls[row.nId];
        if (row.nLabelId != 0) {
            auto* pLabel = qobject_cast<QLabel*>(m_controls[row.nLabelId]);
            pLabel->setBuddy(pControl);
            pControl->setAccessibleName(pLabel->text().remove(u':'));
        } else if (row.eKind == EKind::Spin) {
            pControl->setAccessibleName(QString::fromUtf8(row.pszText));
        }
    }
    m_pView->setAccessibleName(QStringLiteral("Spectrum display"));
}

void CControlStrip::MakeHelpButton() {
    m_pHelpMenu = new QMenu(m_pWindow);
    m_pHelpButton = new QToolButton(m_pWindow);
    m_pHelpButton->setText(QStringLiteral("?"));
    m_pHelpButton->setToolTip(QStringLiteral("Help and About"));
    m_pHelpButton->setAccessibleName(QStringLiteral("Help"));
    m_pHelpButton->setObjectName(QStringLiteral("helpButton"));
    m_pHelpButton->setMenu(m_pHelpMenu);
    m_pHelpButton->setPopupMode(QToolButton::InstantPopup);
    m_pHelpButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_pHelpButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_pHelpButton->resize(kHelpButtonWidth, kHelpButtonHeight);
}

QWidget* CControlStrip::Control(int nId) const {
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

CAccelSpinBox* CControlStrip::Spin(int nId) const {
    return qobject_cast<CAccelSpinBox*>(Control(nId));
}

QCheckBox* CControlStrip::Check(int nId) const {
    return qobject_cast<QCheckBox*>(Control(nId));
}

QComboBox* CControlStrip::List(int nId) const {
    return qobject_cast<QComboBox*>(Control(nId));
}

QPushButton* CControlStrip::Button(int nId) const {
    return qobject_cast<QPushButton*>(Control(nId));
}

// The controls of one kind, in the table's order.
template <typename T> std::vector<T*> CControlStrip::ControlsOf(EKind eKind) const {
    std::vector<T*> controls;
    for (const SControlRow& row : kControls)
        if (row.eKind == eKind)
            controls.push_back(qobject_cast<T*>(Control(row.nId)));
    return controls;
}

std::vector<CAccelSpinBox*> CControlStrip::SettingSpins() const {
    return ControlsOf<CAccelSpinBox>(EKind::Spin);
}

std::vector<QCheckBox*> CControlStrip::SettingChecks() const {
    return ControlsOf<QCheckBox>(EKind::Check);
}

std::vector<int> CControlStrip::Group(EGroup eGroup) {
    std::vector<int> ids;
    for (const SControlRow& row : kControls) {
        const bool bMember = row.eGroup == eGroup ||
                             (eGroup == EGroup::Analysis && row.eGroup == EGroup::StereoOnly);
        if (!bMember)
            continue;
        ids.push_back(row.nId);
        if (row.eKind == EKind::Spin)
            ids.push_back(row.spin.nUpDownId);
    }
    return ids;
}

bool CControlStrip::IsStereoOnly(int nId) {
    const std::vector<int> ids = Group(EGroup::StereoOnly);
    return std::find(ids.begin(), ids.end(), nId) != ids.end();
}

// A range change alone does not count as a settings change; the position
// set next does.
void CControlStrip::SetStartupValues() {
    List(IDC_LIST_RATE)->setCurrentIndex(kDefaultRateIndex);
    List(IDC_LIST_SAMPLES)->setCurrentIndex(kDefaultSizeIndex);
    List(IDC_LIST_WINDOW)->setCurrentIndex(2); // Hanning
    Check(IDC_CHECK_PEAKS)->setChecked(false);
    Check(IDC_CHECK_STEREO)->setChecked(false);
    for (const SControlRow& row : kControls) {
        if (row.eKind != EKind::Spin)
            continue;
        CAccelSpinBox* pSpin = Spin(row.nId);
        {
            const QSignalBlocker quiet(pSpin);
            pSpin->setRange(row.spin.nLow, row.spin.nHigh);
        }
        pSpin->SetAccel(AccelSteps(row.spin.eAccel));
        pSpin->setValue(row.spin.nPos);
    }
}

void CControlStrip::SetRunRanges(const SRunRanges& ranges) {
    auto setRange = [](QSpinBox* pSpin, int nLow, int nHigh) {
        const QSignalBlocker quiet(pSpin);
        pSpin->setRange(nLow, nHigh);
    };
    CAccelSpinBox* pLow = Spin(IDC_SPIN_SPAN_LOW);
    CAccelSpinBox* pHigh = Spin(IDC_SPIN_SPAN_HIGH);
    CAccelSpinBox* pLength = Spin(IDC_SPIN_LENGTH);
    setRange(pHigh, ranges.nSpanHighFloor, ranges.nSpanTop);
    setRange(pLow, ranges.nSpanLowFloor, ranges.nSpanTop);
    pLow->setValue(ranges.nSpanLowFloor);
    pHigh->setValue(ranges.nSpanTop);
    setRange(pLength, 1, ranges.nBlockMs);
    pLength->setValue(ranges.nBlockMs);
}

// ---------------------------------------------------------------------------
// Arrangements and layout

void CControlStrip::ShowPanel(EPanel ePanel) {
    m_eShown = ePanel;
    for (int nId : Group(EGroup::Setup))
        m_controls[nId]->setVisible(ePanel == EPanel::Setup);
    const bool bStereo = Check(IDC_CHECK_STEREO)->isChecked();
    for (int nId : Group(EGroup::Analysis)) {
        bool bShow = ePanel == EPanel::Running;
        if (IsStereoOnly(nId))
            bShow = bShow && bStereo;
        m_controls[nId]->setVisible(bShow);
    }
    m_pHelpButton->setVisible(ePanel != EPanel::None);
    m_pHelpButton->setGeometry(HelpButtonRect(m_pWindow->width(), m_pWindow->height()));
    m_pHelpButton->raise();
}

void CControlStrip::ShowRightChannel(bool bStereo) {
    const bool bShow = m_eShown == EPanel::Running && bStereo;
    const std::vector<int> ids = Group(EGroup::StereoOnly);
    if (m_controls[ids.front()]->isHidden() != bShow)
        return;
    for (int nId : ids)
        m_controls[nId]->setVisible(bShow);
    m_pHelpButton->setGeometry(HelpButtonRect(m_pWindow->width(), m_pWindow->height()));
}

void CControlStrip::Layout(int W, int H, bool bCompact) {
    const int nViewHeight = bCompact ? H - 3 : H - kStripHeight;
    // A client area too small for the view leaves it empty rather than negative.
    m_pView->setGeometry(2, 2, std::max(0, W - 3), std::max(0, nViewHeight));
    for (const SPlacement& p : m_placements)
        p.pWidget->move(p.nX, H - p.nFromBottom);
    m_pHelpButton->setGeometry(HelpButtonRect(W, H));
    m_pHelpButton->raise();
}

// The right end of the shown controls.
int CControlStrip::LastControlRight() const {
    int nLastRight = 0;
    for (const SPlacement& p : m_placements)
        if (!p.pWidget->isHidden())
            nLastRight = std::max(nLastRight, p.nX + p.pWidget->width() - 1);
    return nLastRight;
}

// At the right end of the strip, above Stop. Where the window is too narrow
// for that and the button would cover a control, it goes right after the last
// control of the arrangement shown.
QRect CControlStrip::HelpButtonRect(int W, int H) const {
    QRect rcHelp(W - kHelpButtonWidth - 4, H - 52, kHelpButtonWidth, kHelpButtonHeight);
    const bool bCovers = std::any_of(m_placements.begin(), m_placements.end(), [&](const auto& p) {
        return !p.pWidget->isHidden() &&
               rcHelp.intersects(QRect(QPoint(p.nX, H - p.nFromBottom), p.pWidget->size()));
    });
    if (bCovers)
        rcHelp.moveLeft(LastControlRight() + 5);
    return rcHelp;
}

QSize CControlStrip::MinimumSize(bool bCompact, bool bRunning) const {
    const QSize plot = m_pView->MinimumPictureSize(!bRunning);
    if (bCompact || m_eShown == EPanel::None)
        return QSize(plot.width() + 3, plot.height() + 3);
    int nHeight = plot.height() + kStripHeight;
    for (const SPlacement& p : m_placements)
        if (!p.pWidget->isHidden())
            nHeight = std::max(nHeight, p.nFromBottom);
    // Wide enough for the last control, and for the "?" button wherever that
    // width puts it.
    int nWidth = std::max(plot.width() + 3, LastControlRight() + 1);
    while (HelpButtonRect(nWidth, nHeight).right() >= nWidth)
        ++nWidth;
    return QSize(nWidth, nHeight);
}
