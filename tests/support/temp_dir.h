// A scratch folder for a test's files, removed with its files when the test ends.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const char *prefix = "kcarlib-test") {
        std::string tmpl = std::string("/tmp/") + prefix + ".XXXXXX";
        if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    }
    ~TempDir() {
        if (path_.empty()) return;
        for (const auto &name : Entries()) ::unlink(File(name).c_str());
        ::rmdir(path_.c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }
    // The names of the files in the folder.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        if (DIR *d = ::opendir(path_.c_str())) {
            while (dirent *e = ::readdir(d))
                if (e->d_name[0] != '.') names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }

private:
    std::string path_;
};

}  // namespace testsupport
