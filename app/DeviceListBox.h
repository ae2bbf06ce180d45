#pragma once

#include <QComboBox>

// The capture-device list: a drop-down list that says when it is about to
// open, so that the devices can be looked for again just then. Device names
// are long and often differ only at their end (the host API), so the closed
// list shortens them in the middle, shows the whole name as a tooltip, and the
// open list is as wide as its longest entry. With nothing selected the closed
// list shows its placeholder text, in the placeholder's colour.
class CDeviceListBox : public QComboBox {
    Q_OBJECT
public:
    explicit CDeviceListBox(QWidget* pParent = nullptr);

    void showPopup() override;
    // The text the closed list shows for its current entry, or its
    // placeholder while no entry is selected.
    QString ShownText() const;

signals:
    void PopupAboutToShow();

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void EntriesChanged();
};
