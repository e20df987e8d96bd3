// An in-memory file system with a fixed clock for the logger's tests, with
// switches that make single operations fail. Thread-safe, and it records how
// many entries were being written at the same time.
#pragma once

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "core/log/log_environment.h"

namespace pdt::testing {

class FakeLogEnvironment : public LogEnvironment {
  public:
    std::string executablePath = "/opt/host/host.bin";
    LocalTime now{7, 3, 9, 5, 2, 41};
    std::map<std::string, std::string> files;
    std::set<std::string> refuseAppend;  // paths that cannot be opened for appending
    std::set<std::string> refuseCreate;  // paths that cannot be created
    int failWritesLeft = 0;              // this many next writes fail
    int appendOpens = 0;
    int maxOpenAtOnce = 0;

    std::string File(const std::string& path) {
        std::lock_guard lock(mutex_);
        return files.count(path) ? files[path] : "<missing>";
    }

    std::string ExecutablePath() override { return executablePath; }
    std::string_view PathSeparators() override { return "/"; }
    LocalTime Now() override { return now; }
    std::string ToFileText(std::string_view utf8) override { return std::string(utf8); }

    std::optional<uint64_t> FindFileSize(const std::string& path) override {
        std::lock_guard lock(mutex_);
        const auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second.size();
    }
    bool FileExists(const std::string& path) override {
        std::lock_guard lock(mutex_);
        return files.count(path) != 0;
    }
    bool RemoveFile(const std::string& path) override {
        std::lock_guard lock(mutex_);
        return files.erase(path) != 0;
    }
    bool RenameNoReplace(const std::string& from, const std::string& to) override {
        std::lock_guard lock(mutex_);
        if (!files.count(from) || files.count(to)) return false;
        files[to] = std::move(files[from]);
        files.erase(from);
        return true;
    }
    std::unique_ptr<LogFile> OpenForAppend(const std::string& path) override {
        std::lock_guard lock(mutex_);
        ++appendOpens;
        if (!files.count(path) || refuseAppend.count(path)) return nullptr;
        return Open(path);
    }
    std::unique_ptr<LogFile> CreateEmpty(const std::string& path) override {
        std::lock_guard lock(mutex_);
        if (refuseCreate.count(path)) return nullptr;
        files[path].clear();
        return Open(path);
    }

  private:
    class File_ : public LogFile {
      public:
        File_(FakeLogEnvironment& owner, std::string path)
            : owner_(owner), path_(std::move(path)) {}
        bool Write(std::string_view bytes) override {
            std::this_thread::yield();  // widens the window for an unguarded second writer
            std::lock_guard lock(owner_.mutex_);
            if (owner_.failWritesLeft > 0) {
                --owner_.failWritesLeft;
                return false;
            }
            owner_.files[path_] += bytes;
            return true;
        }
        bool Close() override {
            if (closed_) return true;
            closed_ = true;
            --owner_.openNow_;
            return true;
        }
        ~File_() override { Close(); }

      private:
        FakeLogEnvironment& owner_;
        std::string path_;
        bool closed_ = false;
    };

    std::unique_ptr<LogFile> Open(const std::string& path) {
        maxOpenAtOnce = std::max(maxOpenAtOnce, ++openNow_);
        return std::make_unique<File_>(*this, path);
    }

    std::mutex mutex_;
    std::atomic<int> openNow_{0};
};

}  // namespace pdt::testing
