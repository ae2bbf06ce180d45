#include "app/AboutDialog.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogUnits.h"
#include "app/HelpPage.h"
#include "app/Prompts.h"

CAboutDialog::CAboutDialog(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("About Vemra-2.5"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());

    m_pIcon = new QLabel(this);
    m_pIcon->setGeometry(DluToPx(11, 17, 20, 20));
    m_pIcon->setPixmap(AppIcon().pixmap(32, 32));
    m_pIcon->setAlignment(Qt::AlignCenter);

    m_pName = new QLabel(QStringLiteral("Vemra-2.5"), this);
    m_pName->setGeometry(DluToPx(40, 10, 119, 8));
    m_pName->setTextFormat(Qt::PlainText);

    const QString strWeb = WebPage().toString();
    m_pCredits = new QLabel(this);
    m_pCredits->setGeometry(DluToPx(40, 25, 119, 23));
    m_pCredits->setTextFormat(Qt::RichText);
    m_pCredits->setText(Credits().toHtmlEscaped() + QStringLiteral("<br><a href=\"") +
                        strWeb.toHtmlEscaped() + QStringLiteral("\">") + strWeb.toHtmlEscaped() +
                        QStringLiteral("</a>"));
    m_pCredits->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pCredits->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(m_pCredits, &QLabel::linkActivated, this,
            [this](const QString& strLink) { OpenUrl(this, QUrl(strLink)); });

    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setGeometry(DluToPx(178, 18, 32, 14));
    m_pOk->setDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);

    resize(DluToPxX(217), DluToPxY(55));
    WidenForCredits();
    setFixedSize(size());
    m_pOk->setFocus();
}

// A long address would be cut at the template's width; the box grows instead.
void CAboutDialog::WidenForCredits() {
    const QFontMetrics metrics(m_pCredits->font());
    const int nNeeded = std::max(metrics.horizontalAdvance(Credits()),
                                 metrics.horizontalAdvance(WebPage().toString())) +
                        4;
    const int nExtra = nNeeded - m_pCredits->width();
    if (nExtra <= 0)
        return;
    m_pCredits->resize(nNeeded, m_pCredits->height());
    m_pName->resize(m_pName->width() + nExtra, m_pName->height());
    m_pOk->move(m_pOk->x() + nExtra, m_pOk->y());
    resize(width() + nExtra, height());
}
