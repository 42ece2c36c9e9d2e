// Replays a fuzz target's corpus: every file of the folders (or files) given runs
// through LLVMFuzzerTestOneInput once. Used where no fuzzer is built, so that
// every build checks the checked-in corpora.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

void Collect(const std::string &path, std::vector<std::string> &files) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d))
            if (e->d_name[0] != '.') Collect(path + "/" + e->d_name, files);
        ::closedir(d);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) Collect(argv[i], files);
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "replay: no corpus files found\n");
        return 1;
    }
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
