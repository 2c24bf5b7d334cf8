// Replays a fuzz target's corpus as an ordinary test: every file under the
// given directories is handed to the target once. A crash fails the test.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int Replay(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        perror(path.c_str());
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        DIR *dir = opendir(path.c_str());
        if (dir == nullptr) {
            perror(path.c_str());
            return 1;
        }
        int count = 0;
        while (struct dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            count += Replay(path + "/" + name);
        }
        closedir(dir);
        return count;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; i++) count += Replay(argv[i]);
    printf("replayed %d inputs\n", count);
    return count > 0 ? 0 : 1;
}
