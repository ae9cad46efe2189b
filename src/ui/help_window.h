// The help pages, shown in a window of their own titled "Orvellin Help".
#pragma once

#include <QWidget>

class QTextBrowser;

class CHelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
};

// Where the pages are found: compiled into the program.
inline constexpr const char* kHelpStartPage = "qrc:/help/index.html";
