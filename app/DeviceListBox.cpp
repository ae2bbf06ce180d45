#include "app/DeviceListBox.h"

CDeviceListBox::CDeviceListBox(QWidget* pParent) : QComboBox(pParent) {}

void CDeviceListBox::showPopup() {
    emit PopupAboutToShow();
    QComboBox::showPopup();
}
