#include "app/settings.h"

#include <QSettings>
#include <QString>

namespace settings {

namespace {

constexpr const char* kOrganization = "Tessaline";
constexpr const char* kApplication = "Orvellin";
constexpr const char* kFolderKey = "Options/Folder";
constexpr const char* kFirstRunKey = "Options/FirstRun";

}  // namespace

std::string LoadFolder()
{
    QSettings store(kOrganization, kApplication);
    return store.value(kFolderKey).toString().toStdString();
}

void SaveFolder(const std::string& folder)
{
    QSettings store(kOrganization, kApplication);
    store.setValue(kFolderKey, QString::fromStdString(folder));
}

void FirstRunStep(const std::function<void()>& openHelp)
{
    QSettings store(kOrganization, kApplication);
    bool numeric = false;
    const uint firstRun = store.value(kFirstRunKey, 1u).toUInt(&numeric);
    const bool isFirst = !numeric || firstRun != 0;
    if (isFirst) {
        store.setValue(kFirstRunKey, 0u);
        store.sync();
        if (openHelp)
            openHelp();
    }
}

}  // namespace settings
