#include "app/settings.h"

#include <QSettings>
#include <QString>

namespace settings {

namespace {

constexpr const char* kOrganization = "Tessaline";
constexpr const char* kApplication = "Orvellin";
constexpr const char* kFolderKey = "Options/Folder";
constexpr const char* kFirstRunKey = "Options/FirstRun";
constexpr const char* kWindowGroup = "Window/";

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

std::string LoadWindowValue(const std::string& name)
{
    QSettings store(kOrganization, kApplication);
    return store.value(QLatin1String(kWindowGroup) + QString::fromStdString(name)).toString().toStdString();
}

void SaveWindowValue(const std::string& name, const std::string& value)
{
    QSettings store(kOrganization, kApplication);
    store.setValue(QLatin1String(kWindowGroup) + QString::fromStdString(name), QString::fromStdString(value));
}

}  // namespace settings
