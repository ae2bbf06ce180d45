#include "app/DeviceListBox.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

CDeviceListBox::CDeviceListBox(QWidget* pParent) : QComboBox(pParent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this] { setToolTip(currentText()); });
    QAbstractItemModel* pModel = model();
    connect(pModel, &QAbstractItemModel::rowsInserted, this, &CDeviceListBox::EntriesChanged);
    connect(pModel, &QAbstractItemModel::rowsRemoved, this, &CDeviceListBox::EntriesChanged);
    connect(pModel, &QAbstractItemModel::modelReset, this, &CDeviceListBox::EntriesChanged);
}

void CDeviceListBox::showPopup() {
    emit PopupAboutToShow();
    QComboBox::showPopup();
}

QString CDeviceListBox::ShownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    // With no entry selected yet the list says what it is waiting for.
    if (currentIndex() < 0)
        option.currentText = placeholderText();
    const QRect rcText =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    return fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, rcText.width());
}

void CDeviceListBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0)
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
    option.currentText = ShownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void CDeviceListBox::EntriesChanged() {
    int nWidest = 0;
    for (int i = 0; i < count(); ++i)
        nWidest = std::max(nWidest, view()->fontMetrics().horizontalAdvance(itemText(i)));
    // Room for the entry's margins and a scroll bar.
    view()->setMinimumWidth(nWidest + 2 * view()->frameWidth() + 32);
    setToolTip(currentText());
}
