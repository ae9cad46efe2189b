// The help pages, shown in a window of their own titled "Orvellin Help".
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;

class CHelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return m_browser; }
    QUrl StartPage() const { return m_start; }
    // Shows a page of the help by its file name, such as "merging.html".
    void ShowPage(const QString& page);

private:
    QTextBrowser* m_browser = nullptr;
    QUrl m_start;
};

// The copy of the pages compiled into the program: the last resort.
inline constexpr const char* kHelpStartPage = "qrc:/help/index.html";

// The first page of the help, from the first place that has one: the folder
// asked for (ORVELLIN_HELP_DIR, which points a program in its build tree at
// the pages being edited), the pages installed beside the program
// (programFolder/../share/orvellin/help), else the compiled-in copy. Either
// folder may be empty.
QUrl ChooseHelpStartPage(const QString& askedFolder, const QString& programFolder);
// The same for this program.
QUrl HelpStartPage();
