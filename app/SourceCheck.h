#pragma once

#include <string>

namespace tarn {

// Why `tarnctl copy` must not make a task that copies `source` into the folder `destination`,
// or "" when it may. A task would fail or leave its file out only as it runs, after the tasks
// before it copied; the command refuses it before anything is made:
// - a source that is missing, or is neither a file nor a folder;
// - a file whose copy, DESTINATION/NAME, is the file itself: the same name, or a link to it;
// - a folder whose copy, DESTINATION/NAME, is the folder itself or lies inside it (it would
//   copy itself for ever). The destination need not exist yet.
// NAME is the source's last name, trailing delimiters ignored, as the task takes it.
std::string WhySourceCannotBeCopied(const std::string& source, const std::string& destination);

}  // namespace tarn
