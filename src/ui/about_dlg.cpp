#include "ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/links.h"
#include "ui/shell.h"
#include "ui/web_links.h"
#include "ui/widgets.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Orvellin"));
    setObjectName(QStringLiteral("about"));

    auto* icon = new QLabel(this);
    icon->setPixmap(art::AppIcon().pixmap(48, 48));
    // The icon keeps its own size; all the rest of the width is the text's.
    icon->setFixedSize(48, 48);
    auto* name = new QLabel(QStringLiteral("<b>Orvellin</b>"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    name->setFont(big);
    auto* version = new QLabel(QStringLiteral("Version %1 (Build %2)")
                                   .arg(QLatin1String(links::kVersion), QLatin1String(links::kBuild)),
                               this);
    version->setObjectName(QStringLiteral("version"));
    auto* blurb = new QLabel(QStringLiteral("Extracts the sounds of Flash movies (SWF) as MP3, WAV or FLAC files, "
                                            "or keeps them as the movie stores them."),
                             this);
    blurb->setWordWrap(true);

    // Only the addresses the build has.
    const WebLinks links = Links();
    CLinkButton* home = nullptr;
    if (!links.homePage.isEmpty()) {
        home = new CLinkButton(this);
        home->setObjectName(QStringLiteral("homepage"));
        home->setText(QStringLiteral("Homepage"));
        home->setFixedSize(home->sizeHint());
        connect(home, &QAbstractButton::clicked, this, [url = links.homePage] { OpenLink(url); });
    }
    CLinkButton* support = nullptr;
    if (!links.supportMailbox.isEmpty()) {
        support = new CLinkButton(this);
        support->setObjectName(QStringLiteral("feedback"));
        support->setText(QStringLiteral("Feedback and Support"));
        support->setFixedSize(support->sizeHint());
        connect(support, &QAbstractButton::clicked, this,
                [mail = links.supportMailbox] { OpenLink(QStringLiteral("mailto:") + mail); });
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(version);
    text->addWidget(blurb);
    // Aligned, the fixed-size links leave the column free to take the width.
    if (home || support)
        text->addSpacing(6);
    for (CLinkButton* link : {home, support}) {
        if (link)
            text->addWidget(link, 0, Qt::AlignLeft);
    }
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    UseFixedDialogFrame(this);
    // As tall as the wrapped text needs at this width, and no other size.
    constexpr int kWidth = 360;
    const int height = heightForWidth(kWidth);
    setFixedSize(kWidth, height > 0 ? height : sizeHint().height());
}
