// Runs a fuzz harness once on every file of the folders and files given: the seed corpora are
// replayed by the normal test run, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files;
        if (fs::is_directory(argv[i])) {
            for (const auto& e : fs::directory_iterator(argv[i]))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else {
            files.push_back(argv[i]);
        }
        for (const fs::path& f : files) {
            std::ifstream in(f, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++runs;
        }
    }
    std::printf("%zu inputs replayed\n", runs);
    return runs ? 0 : 1;
}
