// Joins MP3 files byte for byte, in the order given.
#pragma once

#include <string>
#include <vector>

// Writes the inputs one after another to output. The output appears only when
// every byte was copied: it is written under a temporary name and moved into
// place at the end, so a failure leaves no partial file and an existing file
// of that name is replaced only by a complete merge. Refuses (false, nothing
// written) an output that is the same file as one of the inputs.
bool MergeFiles(const std::vector<std::string>& inputs, const std::string& output);

// True when output names one of the inputs: the same path in any letter case,
// or the same file under another name.
bool IsOneOfInputs(const std::vector<std::string>& inputs, const std::string& output);
