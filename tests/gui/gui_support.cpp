#include "gui_support.h"

#include <QTest>

#include "support/swf_builder.h"
#include "ui/main_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"

ScratchSettings::ScratchSettings(const std::string& folder)
    : m_settings(QString::fromStdString(folder + "/Orvellin.conf"), QSettings::IniFormat)
{
}

WindowServices ScratchSettings::Services()
{
    WindowServices services;
    services.loadFolder = [this] {
        return m_settings.value(QStringLiteral("Options/Folder")).toString().toStdString();
    };
    services.saveFolder = [this](const std::string& folder) {
        m_settings.setValue(QStringLiteral("Options/Folder"), QString::fromStdString(folder));
        m_settings.sync();
    };
    services.firstRunStep = [this](const std::function<void()>& openHelp) {
        const QVariant value = m_settings.value(QStringLiteral("Options/FirstRun"));
        const bool first = !value.isValid() || value.toInt() != 0;
        if (!first)
            return;
        m_settings.setValue(QStringLiteral("Options/FirstRun"), 0);
        m_settings.sync();
        ++helpOpenings;
        openHelp();
    };
    services.loadLayout = [this](const std::string& name) {
        return m_settings.value(QStringLiteral("Window/") + QString::fromStdString(name)).toString().toStdString();
    };
    services.saveLayout = [this](const std::string& name, const std::string& value) {
        m_settings.setValue(QStringLiteral("Window/") + QString::fromStdString(name), QString::fromStdString(value));
    };
    return services;
}

MessageRecorder::MessageRecorder()
{
    SetMessageHandler([this](const QString& text, MsgIcon icon, QMessageBox::StandardButtons buttons) {
        messages.push_back({text, icon, buttons});
        if (!answers.empty()) {
            const QMessageBox::StandardButton answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessageHandler({});
}

ScriptedDialogs::ScriptedDialogs()
{
    SetDialogs(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    SetDialogs(nullptr);
}

std::vector<std::string> ScriptedDialogs::OpenFiles(QWidget*, const QString& filter, const std::string& start)
{
    asked << QStringLiteral("open ") + filter;
    starts.push_back(start);
    if (openAnswers.empty())
        return {};
    std::vector<std::string> answer = std::move(openAnswers.front());
    openAnswers.pop_front();
    return answer;
}

std::string ScriptedDialogs::SaveFile(QWidget*, const std::string& initialPath, const QStringList& filters,
                                      const QString& defaultSuffix)
{
    asked << QStringLiteral("save ") + FromPath(initialPath) + QLatin1Char('|') + filters.join(QLatin1Char(';'));
    starts.push_back(initialPath);
    saveSuffixes << defaultSuffix;
    if (whileSaving)
        whileSaving();
    if (saveAnswers.empty())
        return {};
    std::string answer = std::move(saveAnswers.front());
    saveAnswers.pop_front();
    return answer;
}

std::string ScriptedDialogs::ChooseFolder(QWidget*, const QString& title, const std::string& start)
{
    asked << QStringLiteral("folder ") + title + QLatin1Char('|') + FromPath(start);
    starts.push_back(start);
    if (folderAnswers.empty())
        return {};
    std::string answer = std::move(folderAnswers.front());
    folderAnswers.pop_front();
    return answer;
}

RecordingShell::RecordingShell()
{
    SetShell(this);
}

RecordingShell::~RecordingShell()
{
    SetShell(nullptr);
}

bool RecordingShell::OpenUrl(const QUrl& url)
{
    opened.push_back(url);
    return true;
}

bool RecordingShell::OpenFile(const std::string& path)
{
    files.push_back(path);
    return soundPlayerFound;
}

bool RecordingShell::PlayMovie(const std::string& path)
{
    played.push_back(path);
    return playerFound;
}

bool RecordingShell::ShowInFileManager(const std::string& path)
{
    shown.push_back(path);
    return fileManagerFound;
}

WebLinks ExampleLinks()
{
    return {QStringLiteral("https://orvellin.example/"), QStringLiteral("https://orvellin.example/update"),
            QStringLiteral("support@orvellin.example")};
}

ScopedLinks::ScopedLinks(const WebLinks& links) : m_links(links)
{
    SetLinks(&m_links);
}

ScopedLinks::~ScopedLinks()
{
    SetLinks(nullptr);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
{
    qputenv(name, QByteArray::fromStdString(value));
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

std::string MakeMovie(const std::string& path, int sounds, uint16_t frames, uint8_t rate, uint32_t samples)
{
    SwfBuilder movie;
    movie.Frames(frames).Rate(0, rate);
    // A background colour, so that even a movie without sounds has a full header.
    movie.Tag(9, std::string("\x20\x40\x60", 3));
    const std::vector<int16_t> tone = TestTone(samples, false, 11025);
    std::string pcm;
    pcm.reserve(tone.size() * 2);
    for (int16_t s : tone) {
        pcm.push_back(static_cast<char>(s & 0xFF));
        pcm.push_back(static_cast<char>((s >> 8) & 0xFF));
    }
    for (int i = 0; i < sounds; ++i)
        movie.Tag(kTagDefineSound, DefineSound(static_cast<uint16_t>(i + 1), 3, 1, true, false, samples, pcm));
    movie.End();
    return movie.WriteTo(path);
}

WindowFixture::WindowFixture() : settings(temp.Path())
{
    // Not a first run, unless a test says so.
    settings.Settings().setValue(QStringLiteral("Options/FirstRun"), 0);
    window = std::make_unique<CMainDlg>(settings.Services());
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
}

WindowFixture::~WindowFixture()
{
    window.reset();
}

QStringList ColumnTexts(const CSortListCtrl* list, int column)
{
    QStringList texts;
    for (int row = 0; row < list->GetItemCount(); ++row)
        texts << list->GetItemText(row, column);
    return texts;
}

bool IsFixedDialog(const QWidget* dialog)
{
    const Qt::WindowFlags flags = dialog->windowFlags();
    return dialog->isWindow() && dialog->minimumSize() == dialog->maximumSize() &&
           !(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) &&
           (flags & Qt::WindowCloseButtonHint);
}
