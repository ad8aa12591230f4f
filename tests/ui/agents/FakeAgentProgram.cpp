// Stands in for an agent tool's command-line program. Started as
// <dir>/<name> --version, it prints the bytes of <dir>/<name>.out and, when
// <dir>/<name>.hang exists, then waits until it is killed.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

int main(int, char** argv)
{
    const std::string self = argv[0];
    std::ifstream output(self + ".out", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(output)), std::istreambuf_iterator<char>());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (std::ifstream(self + ".hang").good()) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return 0;
}
