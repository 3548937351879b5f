#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {

constexpr uint8_t ProgramMajorVersion = 3;
constexpr uint8_t ProgramMinorVersion = 1;

// The copy buffer's bounds: a larger one only costs memory, and one past a few hundred MiB
// may not be had at all.
constexpr int32_t MinBufferSize = 1;
constexpr int32_t MaxBufferSize = 64 * 1024 * 1024;

// Task states; the display names are the catalogue's Sta001 to Sta006.
enum TaskState : uint8_t {
    StateScanning = 0,
    StateCopying = 1,
    StateError = 2,
    StatePaused = 3,
    StateScheduled = 4,
    StateFinished = 5,
};

// Scanning, Copying and Error: the states of a task at work, which the queues count as running.
inline bool IsActiveState(uint8_t state)
{
    return state == StateScanning || state == StateCopying || state == StateError;
}

// What `Source` turned out to be.
enum SourceKindValue : uint8_t {
    SourceUnresolved = 0,
    SourceFolder = 1,  // `Source` ends with a delimiter; `Destination` got the folder's name
    SourceFile = 2,    // `Source` was cut to the file's folder; the file is the first item
};

enum ItemKind : uint8_t {
    KindFile = 0,
    KindStream = 1,  // an extended attribute of the file before it in the list
    KindFolder = 2,
    KindLink = 3,      // a symbolic link, made anew with the target text it has when it is copied
    KindHardLink = 4,  // another name of the file at item `Link`: made as a link to its copy
    KindSpecial = 5,   // a pipe, socket or device, made anew as the source is when it is copied
};
constexpr int ItemKindCount = 6;

// A regular file of the source: its first name or a further one.
inline bool IsFileKind(uint8_t kind) { return kind == KindFile || kind == KindHardLink; }

// Answers about a destination file that exists. Odd codes hold for one item, even codes for
// the rest of the task.
enum ExistsAnswerCode : uint8_t {
    AnswerAsk = 0,
    AnswerOverwrite = 1,
    AnswerOverwriteAll = 2,
    AnswerUpload = 3,
    AnswerUploadAll = 4,
    AnswerSkip = 5,
    AnswerSkipAll = 6,
};

// One entry of a task's file list.
struct TItemAttrs {
    std::string Dir;   // relative to the source root, with a trailing delimiter; empty at the root
    std::string Name;  // a folder's name ends with a delimiter; a stream's is file + ":name:$DATA"
    int64_t Size = 0;
    uint8_t Kind = KindFile;
    int32_t Link = -1;  // of a hard link: the index of the first item of its file

    bool operator==(const TItemAttrs&) const = default;
};

// One task log record: a message id and the values for its placeholders.
struct TMsg {
    std::string Id;
    double Time = 0;
    std::vector<std::string> Params;

    bool operator==(const TMsg&) const = default;
};

}  // namespace tarn
