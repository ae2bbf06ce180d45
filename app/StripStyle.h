#pragma once

#include <QProxyStyle>

// The desktop's style with the tighter spacing of the dialog's template:
// a check box's caption starts closer to its box, so that the captions hold
// in the widths the template gives them.
class CStripStyle : public QProxyStyle {
    Q_OBJECT
public:
    // The one instance; it lives as long as the application object, so that
    // no control outlives its style.
    static CStripStyle* Instance();

    int pixelMetric(PixelMetric metric, const QStyleOption* pOption = nullptr,
                    const QWidget* pWidget = nullptr) const override;

    static constexpr int kCheckBoxLabelSpacing = 3;

private:
    CStripStyle();
};
