#pragma once

#include <string>
#include <vector>

namespace tarn {

// Why `tarnctl copy` must not make a task that copies `source` into the folder `destination`,
// or "" when it may. A task would fail or leave its file out only as it runs, after the tasks
// before it copied; the command refuses it before anything is made:
// - a source that is missing, or is neither a file nor a folder;
// - a file whose copy, DESTINATION/NAME, is the file itself: the same name, or a link to it;
// - a folder whose copy, DESTINATION/NAME, is the folder itself or lies inside it (it would
//   copy itself for ever). The destination need not exist yet.
// NAME is the source's last name as the task takes it (CopyName).
std::string WhySourceCannotBeCopied(const std::string& source, const std::string& destination);

// Why sources[index] must not be copied into `destination` together with the sources before
// it, or "" when it may: one of them has the same name, and both copies would be one (folders
// merged, one file replacing the other). Names are compared exactly, as the task takes them.
std::string WhyNameIsTaken(const std::vector<std::string>& sources, size_t index, const std::string& destination);

// Why no copy can go into `destination`, or "" when it can: an existing file, or anything else
// that is not a folder (a link is followed), stands there. A missing destination is made.
std::string WhyDestinationCannotBeUsed(const std::string& destination);

// The name the copy of `source` gets: its last name once made absolute and normal
// (AbsolutePath), trailing delimiters ignored; "a/b/.." copies as "a".
std::string CopyName(const std::string& source);

}  // namespace tarn
