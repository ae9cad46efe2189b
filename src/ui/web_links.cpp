#include "ui/web_links.h"

#include <QUrl>

#include "ui/links.h"

namespace {

const WebLinks* g_links = nullptr;

}  // namespace

QString WebLinks::HomePageHost() const
{
    return QUrl(homePage).host();
}

const WebLinks& Links()
{
    static const WebLinks build{QString::fromLatin1(links::kHomePage), QString::fromLatin1(links::kUpdateCheck),
                                QString::fromLatin1(links::kSupportMailbox)};
    return g_links ? *g_links : build;
}

void SetLinks(const WebLinks* links)
{
    g_links = links;
}
