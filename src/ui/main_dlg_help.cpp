// Help, the web and mail links of the help menu, and the About window.
#include <QUrl>

#include "ui/about_dlg.h"
#include "ui/help_window.h"
#include "ui/links.h"
#include "ui/main_dlg.h"
#include "ui/shell.h"
#include "ui/web_links.h"
#include "ui/widgets.h"

void CMainDlg::OpenHelp(const QString& page)
{
    if (m_help) {
        if (!page.isEmpty())
            m_help->ShowPage(page);
        if (m_help->isMinimized())
            m_help->showNormal();
        m_help->raise();
        m_help->activateWindow();
        return;
    }
    CWaitCursor wait;
    m_help = new CHelpWindow(nullptr);
    if (!page.isEmpty())
        m_help->ShowPage(page);
    m_help->show();
    // Asked for from a dialog, a new window would open behind the dialog
    // that still has the focus.
    m_help->raise();
    m_help->activateWindow();
}

void CMainDlg::OnTellAFriend()
{
    CWaitCursor wait;
    const QString subject = QStringLiteral("Orvellin - very COOL application!!!");
    const QString body = QStringLiteral("Download from ") + Links().homePage;
    OpenLink(QStringLiteral("mailto:?subject=") + QString::fromLatin1(QUrl::toPercentEncoding(subject)) +
             QStringLiteral("&body=") + QString::fromLatin1(QUrl::toPercentEncoding(body)));
}

void CMainDlg::OnFeedback()
{
    CWaitCursor wait;
    OpenLink(QStringLiteral("mailto:") + Links().supportMailbox);
}

void CMainDlg::OnHomepage()
{
    CWaitCursor wait;
    OpenLink(Links().homePage);
}

void CMainDlg::OnCheckVersion()
{
    CWaitCursor wait;
    OpenLink(QStringLiteral("%1?Ver=%2&Build=%3")
                 .arg(Links().updateCheck, QLatin1String(links::kVersion), QLatin1String(links::kBuild)));
}

void CMainDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}
