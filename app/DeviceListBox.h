#pragma once

#include <QComboBox>

// The capture-device list: a drop-down list that says when it is about to
// open, so that the devices can be looked for again just then.
class CDeviceListBox : public QComboBox {
    Q_OBJECT
public:
    explicit CDeviceListBox(QWidget* pParent = nullptr);

    void showPopup() override;

signals:
    void PopupAboutToShow();
};
