#include "ui/help_window.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/hooks.h"
#include "ui/shell.h"
#include "util/paths.h"

namespace {

QUrl PageIn(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    const QFileInfo page(QDir(folder), QStringLiteral("index.html"));
    return page.isFile() ? QUrl::fromLocalFile(page.absoluteFilePath()) : QUrl();
}

}  // namespace

QUrl ChooseHelpStartPage(const QString& askedFolder, const QString& programFolder)
{
    QUrl page = PageIn(askedFolder);
    if (page.isEmpty() && !programFolder.isEmpty())
        page = PageIn(QDir(programFolder).filePath(QStringLiteral("../share/orvellin/help")));
    if (page.isEmpty())
        page = QUrl(QString::fromLatin1(kHelpStartPage));
    return page;
}

QUrl HelpStartPage()
{
    std::string folder;
    const QString programFolder = GetModuleFolder(folder) ? FromPath(folder) : QString();
    return ChooseHelpStartPage(qEnvironmentVariable("ORVELLIN_HELP_DIR"), programFolder);
}

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Orvellin Help"));
    setWindowIcon(art::AppIcon());
    resize(760, 560);

    m_browser = new QTextBrowser(this);
    m_browser->setOpenLinks(true);
    m_browser->setOpenExternalLinks(false);
    // Pages link to each other; anything else goes to the desktop.
    connect(m_browser, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (!url.isRelative() && url.scheme() != QLatin1String("qrc") && !url.isLocalFile()) {
            Shell().OpenUrl(url);
            m_browser->setSource(m_browser->source());
        }
    });

    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this,
            [this] { m_browser->setSource(m_start); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(back);
    bar->addWidget(contents);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_browser);

    m_start = HelpStartPage();
    m_browser->setSource(m_start);
}

void CHelpWindow::ShowPage(const QString& page)
{
    // The pages lie side by side wherever the first one was found.
    m_browser->setSource(m_start.resolved(QUrl(page)));
}
