#include "app/StripStyle.h"

#include <QApplication>
#include <QPointer>
#include <QStyleFactory>

CStripStyle* CStripStyle::Instance() {
    static QPointer<CStripStyle> s_pStyle;
    if (!s_pStyle) {
        s_pStyle = new CStripStyle;
        s_pStyle->setParent(QCoreApplication::instance());
    }
    return s_pStyle;
}

CStripStyle::CStripStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

int CStripStyle::pixelMetric(PixelMetric metric, const QStyleOption* pOption,
                             const QWidget* pWidget) const {
    if (metric == PM_CheckBoxLabelSpacing)
        return kCheckBoxLabelSpacing;
    return QProxyStyle::pixelMetric(metric, pOption, pWidget);
}
