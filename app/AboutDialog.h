#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the program's icon, its name and version, a credits line
// with the web address, and OK.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* pParent = nullptr);

    QLabel* CreditsLabel() const { return m_pCredits; }
    QPushButton* OkButton() const { return m_pOk; }

private:
    void WidenForCredits();

    QLabel* m_pIcon = nullptr;
    QLabel* m_pName = nullptr;
    QLabel* m_pCredits = nullptr;
    QPushButton* m_pOk = nullptr;
};
