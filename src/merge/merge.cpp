#include "merge/merge.h"

#include "platform/file.h"
#include "platform/pending_file.h"
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
    platform::PendingFile out;
    if (!out.Create(output, true))
        return false;
    for (const std::string& path : inputs) {
        platform::File in;
        if (!in.Open(path, platform::OpenMode::Read) || !out.Out().AppendFrom(in))
            return false;
    }
    return out.MoveInto() == platform::MoveOutcome::Moved;
}
