#include "merge/merge.h"

#include "platform/file.h"
#include "util/paths.h"

bool IsOneOfInputs(const std::vector<std::string>& inputs, const std::string& output)
{
    for (const std::string& in : inputs) {
        if (EqualsIgnoreCase(in, output) || platform::SameFile(in, output))
            return true;
    }
    return false;
}

bool MergeFiles(const std::vector<std::string>& inputs, const std::string& output)
{
    for (const std::string& in : inputs) {
        if (platform::SameFile(in, output))
            return false;
    }
    platform::File out;
    std::string temp;
    if (!platform::CreateTempBeside(output, out, temp))
        return false;
    bool ok = true;
    for (const std::string& path : inputs) {
        platform::File in;
        if (!in.Open(path, platform::OpenMode::Read) || !out.AppendFrom(in)) {
            ok = false;
            break;
        }
    }
    ok = out.Close() && ok;
    if (ok && platform::RenameReplacing(temp, output))
        return true;
    platform::DeleteFile(temp);
    return false;
}
