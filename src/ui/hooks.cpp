#include "ui/hooks.h"

#include <QAbstractButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QMimeDatabase>
#include <algorithm>

#include "ui/desktop_apps.h"
#include "ui/shell.h"
#include "ui/widgets.h"
#include "util/paths.h"

namespace {

MessageHandler& Handler()
{
    static MessageHandler handler;
    return handler;
}

// Qt lists and opens only folders whose names are UTF-8 (its directory
// listing leaves the others out), so a dialog meant to start in one starts in
// the nearest folder above it that Qt can show.
QString ReachableFolder(const std::string& folder)
{
    std::string start = folder;
    while (start.size() > 1 && ToPath(FromPath(start)) != start) {
        const size_t slash = start.find_last_of('/');
        start = slash == std::string::npos ? std::string() : start.substr(0, std::max<size_t>(slash, 1));
    }
    return FromPath(start);
}

// The URLs rather than the file names: a desktop dialog behind the portal
// hands over URLs that carry a name's exact bytes. Qt's own dialog never
// offers a name that isn't UTF-8, so what it returns converts exactly too.
std::vector<std::string> ChosenPaths(const QFileDialog& dialog)
{
    std::vector<std::string> paths;
    for (const QUrl& url : dialog.selectedUrls()) {
        std::string path = UrlToPath(url);
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

class DesktopDialogs final : public IDialogs {
public:
    std::vector<std::string> OpenFiles(QWidget* owner, const QString& filter, const std::string& start) override
    {
        QFileDialog dialog(owner);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setNameFilter(filter);
        dialog.setDirectory(ReachableFolder(start));
        if (dialog.exec() != QDialog::Accepted)
            return {};
        return ChosenPaths(dialog);
    }

    std::string SaveFile(QWidget* owner, const std::string& initialPath, const QStringList& filters,
                         const QString& defaultSuffix) override
    {
        QFileDialog dialog(owner);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(filters);
        if (!filters.isEmpty())
            dialog.selectNameFilter(filters.first());
        dialog.setDefaultSuffix(defaultSuffix);
        const size_t slash = initialPath.find_last_of('/');
        if (slash != std::string::npos)
            dialog.setDirectory(ReachableFolder(initialPath.substr(0, std::max<size_t>(slash, 1))));
        // The dialog holds text: a name that isn't UTF-8 would show, and be
        // kept, with its odd bytes replaced, a new name that only looks like
        // the old one. It is proposed with those bytes escaped instead, and
        // that proposal kept as it stands is the file's own name again.
        const std::string name = slash == std::string::npos ? initialPath : initialPath.substr(slash + 1);
        const bool text = ToPath(FromPath(name)) == name;
        const QString proposed = text ? FromPath(name) : EscapedName(name);
        dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted)
            return {};
        std::vector<std::string> chosen = ChosenPaths(dialog);
        if (chosen.empty())
            return {};
        std::string path = std::move(chosen.front());
        const size_t cut = path.find_last_of('/') + 1;
        if (!text && path.compare(cut, std::string::npos, ToPath(proposed)) == 0)
            path = path.substr(0, cut) + name;
        return path;
    }

    std::string ChooseFolder(QWidget* owner, const QString& title, const std::string& start) override
    {
        QFileDialog dialog(owner, title);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setDirectory(ReachableFolder(start));
        if (dialog.exec() != QDialog::Accepted)
            return {};
        std::vector<std::string> chosen = ChosenPaths(dialog);
        return chosen.empty() ? std::string() : chosen.front();
    }
};

class DesktopShell final : public IShell {
public:
    bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }

    // Asked of the desktop's entries directly: handed a file no program
    // takes, the desktop's opener fails where nobody sees it.
    bool OpenFile(const std::string& path) override
    {
        // The types of the files the program makes, by every name entries
        // use for them: known even where the desktop's type database is not.
        const std::string_view extension = FileExtension(path);
        if (EqualsIgnoreCase(extension, ".mp3"))
            return StartFirst({"audio/mpeg", "audio/mp3", "audio/x-mp3", "audio/x-mpeg"}, path);
        if (EqualsIgnoreCase(extension, ".wav"))
            return StartFirst({"audio/x-wav", "audio/wav", "audio/vnd.wave"}, path);
        if (EqualsIgnoreCase(extension, ".flac"))
            return StartFirst({"audio/flac", "audio/x-flac"}, path);
        const QMimeType type = QMimeDatabase().mimeTypeForFile(FromPath(std::string(FileNamePart(path))),
                                                               QMimeDatabase::MatchExtension);
        return type.isValid() && StartFirst(QStringList{type.name()} + type.aliases(), path);
    }

    bool PlayMovie(const std::string& path) override
    {
        return StartFirst({QStringLiteral("application/x-shockwave-flash"),
                           QStringLiteral("application/vnd.adobe.flash.movie")},
                          path);
    }

    bool ShowInFileManager(const std::string& path) override
    {
        const QString uri = QString::fromLatin1(PathToUrl(path).toEncoded());
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected() && bus.interface() &&
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1"))) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
            call << QStringList{uri} << QString();
            const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
            if (reply.type() == QDBusMessage::ReplyMessage)
                return true;
        }
        // No file manager that can select a file: open the folder.
        const size_t slash = path.find_last_of('/');
        return StartFirst({QStringLiteral("inode/directory")},
                          slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1));
    }

private:
    // Starts the first program the desktop has for one of the types on the
    // file, its name passed as its exact bytes. This program's own entry
    // claims the movie types, so that the file manager offers it: it is
    // passed over, or Play would start it again.
    static bool StartFirst(const QStringList& types, const std::string& path)
    {
        for (const QString& type : types) {
            for (const desktop::Application& app : desktop::ApplicationsFor(type.toStdString())) {
                if (!desktop::IsThisProgram(app) && desktop::StartDetached(desktop::CommandLine(app, path)))
                    return true;
            }
        }
        return false;
    }
};

IDialogs* g_dialogs = nullptr;
IShell* g_shell = nullptr;

}  // namespace

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, MsgIcon icon,
                                        QMessageBox::StandardButtons buttons, const std::function<void()>& onHelp)
{
    if (onHelp)
        buttons |= QMessageBox::Help;
    else
        buttons &= ~QMessageBox::StandardButtons(QMessageBox::Help);
    if (Handler()) {
        for (;;) {
            const QMessageBox::StandardButton answer = Handler()(text, icon, buttons);
            if (answer != QMessageBox::Help || !onHelp)
                return answer;
            onHelp();
        }
    }
    QMessageBox::Icon kind = QMessageBox::Information;
    if (icon == MsgIcon::Exclamation)
        kind = QMessageBox::Warning;
    else if (icon == MsgIcon::Question)
        kind = QMessageBox::Question;
    QMessageBox box(kind, QStringLiteral("Orvellin"), text, buttons, owner);
    // The box sizes itself to its text, once and for all.
    UseFixedDialogFrame(&box);
    if (onHelp) {
        // Blocks only its own window, so the help it opens can be read meanwhile.
        if (owner)
            box.setWindowModality(Qt::WindowModal);
        // Help answers nothing, so it must not close the box: closed and asked
        // again, the box was placed anew by the window manager, and raised
        // again with its owners over the help it had just opened.
        QAbstractButton* help = box.button(QMessageBox::Help);
        QObject::disconnect(help, &QAbstractButton::clicked, nullptr, nullptr);
        QObject::connect(help, &QAbstractButton::clicked, &box, onHelp);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowListMessage(QWidget* owner, const QString& text, const QStringList& items, MsgIcon icon)
{
    if (Handler()) {
        QString whole = text + QStringLiteral("\n\n");
        for (const QString& item : items)
            whole += item + QLatin1Char('\n');
        Handler()(whole, icon, QMessageBox::Ok);
        return;
    }
    QDialog box(owner);
    box.setObjectName(QStringLiteral("listMessage"));
    box.setWindowTitle(QStringLiteral("Orvellin"));
    UseFixedDialogFrame(&box);
    const QStyle::StandardPixmap kind = icon == MsgIcon::Exclamation ? QStyle::SP_MessageBoxWarning
                                        : icon == MsgIcon::Question  ? QStyle::SP_MessageBoxQuestion
                                                                     : QStyle::SP_MessageBoxInformation;
    auto* sign = new QLabel(&box);
    const int signSize = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    sign->setPixmap(box.style()->standardIcon(kind, nullptr, &box).pixmap(signSize, signSize));
    auto* label = new QLabel(text, &box);
    label->setWordWrap(true);
    auto* list = new QListWidget(&box);
    list->setObjectName(QStringLiteral("items"));
    list->setTextElideMode(Qt::ElideMiddle);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const QString& item : items) {
        auto* row = new QListWidgetItem(item, list);
        row->setToolTip(item);
    }
    // A dozen rows at most; the rest scroll.
    constexpr int kRows = 12;
    const int rowHeight = std::max(list->sizeHintForRow(0), list->fontMetrics().height());
    list->setFixedHeight(rowHeight * std::min<int>(kRows, std::max<int>(1, static_cast<int>(items.size()))) +
                         2 * list->frameWidth() + 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(sign, 0, Qt::AlignTop);
    top->addWidget(label, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(top);
    layout->addWidget(list);
    layout->addWidget(buttons);
    // As wide as most of a screen allows, for the ends of long names.
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const int width = std::min(560, screen ? screen->availableGeometry().width() * 3 / 4 : 560);
    box.setFixedSize(width, box.sizeHint().height());
    box.exec();
}

void SetMessageHandler(MessageHandler handler)
{
    Handler() = std::move(handler);
}

IDialogs& Dialogs()
{
    static DesktopDialogs desktop;
    return g_dialogs ? *g_dialogs : desktop;
}

void SetDialogs(IDialogs* dialogs)
{
    g_dialogs = dialogs;
}

IShell& Shell()
{
    static DesktopShell desktop;
    return g_shell ? *g_shell : desktop;
}

void SetShell(IShell* shell)
{
    g_shell = shell;
}
