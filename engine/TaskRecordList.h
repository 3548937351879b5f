#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"

namespace tarn {

// A task's log records in memory, packed. A task of a million files holds a million records,
// most of them a file's name and its two folders: each record keeps its time, and for its id
// and each value the part up to the value's last delimiter as a number in a table that records
// share, and the rest as it is. Some 30 bytes a copied file, where a TMsg takes some 300.
class TaskRecordList {
public:
    TaskRecordList() = default;
    // The index of shared texts points into the list's own table: a copy would point into another's.
    TaskRecordList(const TaskRecordList&) = delete;
    TaskRecordList& operator=(const TaskRecordList&) = delete;
    TaskRecordList(TaskRecordList&&) = default;
    TaskRecordList& operator=(TaskRecordList&&) = default;

    void push_back(const TMsg& record);
    size_t size() const { return where_.size(); }
    bool empty() const { return where_.empty(); }
    // The record as it was added, byte for byte.
    TMsg operator[](size_t index) const;
    TMsg back() const { return (*this)[size() - 1]; }

private:
    uint32_t Share(std::string_view text);

    std::vector<std::string> blocks_;  // the packed records; none spans two blocks
    std::deque<uint64_t> where_;       // per record: its block (high half) and offset in it
    std::deque<std::string> shared_;   // ids and the folders that values begin with
    std::unordered_map<std::string_view, uint32_t> sharedIndex_;
    std::string scratch_;
};

}  // namespace tarn
