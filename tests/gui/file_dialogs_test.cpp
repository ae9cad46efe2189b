// Qt's own file dialogs behind the window's dialog interface: what they return
// arrives as the file system's bytes. Qt's listing leaves out names that are
// not UTF-8, so these dialogs can't offer such a movie at all; the help sends
// those to Add Folder, a drop or the command line, and this test notices if
// that ever changes.
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "support/temp_dir.h"
#include "ui/hooks.h"
#include "ui/shell.h"

namespace fs = std::filesystem;

namespace {

// Once a file dialog is up and has listed `rows` entries of its folder, calls
// act with it and the names it lists. A dialog that never gets there is
// rejected, so a failure can't hang the test.
void WhenListed(int rows, const std::function<void(QFileDialog&, const QStringList&)>& act)
{
    auto* timer = new QTimer;
    auto polls = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, polls, rows, act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* model = dialog->findChild<QFileSystemModel*>();
        const QModelIndex root = model ? model->index(dialog->directory().absolutePath()) : QModelIndex();
        if (model && model->rowCount(root) < rows && ++*polls < 250)
            return;
        timer->deleteLater();
        timer->stop();
        QStringList listed;
        for (int row = 0; model && row < model->rowCount(root); ++row)
            listed << model->index(row, 0, root).data().toString();
        listed.sort();
        act(*dialog, listed);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start(20);
}

// Types names into the dialog, as a user would, and accepts them.
void Accept(QFileDialog& dialog, const QString& names)
{
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(names);
    QMetaObject::invokeMethod(&dialog, "accept");
}

}  // namespace

class FileDialogsTest : public QObject {
    Q_OBJECT

    TempDir m_temp;
    std::string m_films;

private Q_SLOTS:
    void init()
    {
        // Latin-1 names beside UTF-8 ones, as in old archives.
        m_films = m_temp / "films";
        fs::create_directories(m_films + "/caf\xe9");
        fs::create_directories(m_films + "/sub");
        for (const char* name : {"plain.swf", "d\xc3\xa9j\xc3\xa0.swf", "caf\xe9.swf"})
            WriteFileBytes(m_films + "/" + name, "FWS");
    }

    void openAndFolderDialogsGiveBytesAndOfferOnlyUtf8Names()
    {
        // Started in a folder Qt can't show, the dialog opens the one above.
        QString shownFolder;
        WhenListed(3, [&shownFolder](QFileDialog& dialog, const QStringList& listed) {
            shownFolder = dialog.directory().absolutePath();
            QCOMPARE(listed, (QStringList{"déjà.swf", "plain.swf", "sub"}));
            Accept(dialog, QStringLiteral("\"déjà.swf\" \"plain.swf\""));
        });
        const std::vector<std::string> chosen =
            Dialogs().OpenFiles(nullptr, QStringLiteral("Flash Movie Files (*.swf)"), m_films + "/caf\xe9");
        QCOMPARE(shownFolder, FromPath(m_films));
        QCOMPARE(chosen, (std::vector<std::string>{m_films + "/d\xc3\xa9j\xc3\xa0.swf", m_films + "/plain.swf"}));

        QString title;
        WhenListed(1, [&title](QFileDialog& dialog, const QStringList&) {
            title = dialog.windowTitle();
            Accept(dialog, QStringLiteral("sub"));
        });
        QCOMPARE(Dialogs().ChooseFolder(nullptr, QStringLiteral("Please choose a folder:"), m_films),
                 m_films + "/sub");
        QCOMPARE(title, QStringLiteral("Please choose a folder:"));

        WhenListed(3, [](QFileDialog& dialog, const QStringList&) { dialog.reject(); });
        QVERIFY(Dialogs().OpenFiles(nullptr, QStringLiteral("*.swf"), m_films).empty());
    }

    void saveDialogProposesTheNameAndAddsTheSuffix()
    {
        // A proposed name that isn't UTF-8 is shown with its odd byte escaped,
        // never as a look-alike; another name typed is that name.
        QString proposed;
        WhenListed(1, [&proposed](QFileDialog& dialog, const QStringList&) {
            proposed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            Accept(dialog, QStringLiteral("neu"));
        });
        const std::string latin1 = m_films + "/caf\xe9_001.mp3";
        QCOMPARE(Dialogs().SaveFile(nullptr, latin1, {QStringLiteral("MP3 File (*.mp3)")}, QStringLiteral("mp3")),
                 m_films + "/neu.mp3");
        QCOMPARE(proposed, QStringLiteral("caf\\xE9_001.mp3"));
        // Kept as proposed, it is the file's own name, byte for byte.
        WhenListed(1, [](QFileDialog& dialog, const QStringList&) { QMetaObject::invokeMethod(&dialog, "accept"); });
        QCOMPARE(Dialogs().SaveFile(nullptr, latin1, {QStringLiteral("MP3 File (*.mp3)")}, QStringLiteral("mp3")),
                 latin1);
        // A UTF-8 name is proposed as it is.
        WhenListed(1, [&proposed](QFileDialog& dialog, const QStringList&) {
            proposed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            dialog.reject();
        });
        QVERIFY(Dialogs().SaveFile(nullptr, m_films + "/d\xc3\xa9j\xc3\xa0.wav", {}, {}).empty());
        QCOMPARE(proposed, QStringLiteral("déjà.wav"));
    }

    void escapedNamesReadAsTheirBytes()
    {
        const struct {
            std::string bytes;
            QString text;
        } cases[] = {
            {"plain.mp3", QStringLiteral("plain.mp3")},
            {"caf\xe9.mp3", QStringLiteral("caf\\xE9.mp3")},
            {"d\xc3\xa9j\xc3\xa0", QStringLiteral("déjà")},
            // A lead byte cut short, an overlong form, a lone continuation byte.
            {"a\xe2\x82", QStringLiteral("a\\xE2\\x82")},
            {"\xc0\xaf", QStringLiteral("\\xC0\\xAF")},
            {"\x80z", QStringLiteral("\\x80z")},
        };
        for (const auto& c : cases)
            QCOMPARE(EscapedName(c.bytes), c.text);
    }
};

QTEST_MAIN(FileDialogsTest)
#include "file_dialogs_test.moc"
