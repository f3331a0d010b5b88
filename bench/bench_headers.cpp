// Header interpretation speed: every header block of a corpus (written by
// bench/gen_headers.py) goes through a message object as the check cycle
// uses it: lines appended, InterpretHeaders, then the sender's name and
// address, the subject and the date read.
//
// usage: bench_headers CORPUS [--runs R]
// Each run prints "run=i headers=N seconds=S"; the last line is
//   headers=N headers_per_s=X runs=R        (X from the median run)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mail/errors.h"
#include "mail/mime/mail_message.h"

namespace {

using Block = std::vector<std::string_view>;

// Blocks are separated by an empty line; lines end with CR LF.
std::vector<Block> SplitCorpus(std::string_view corpus) {
    std::vector<Block> blocks;
    Block current;
    size_t start = 0;
    while (start < corpus.size()) {
        size_t end = corpus.find('\n', start);
        if (end == std::string_view::npos) end = corpus.size();
        std::string_view line = corpus.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) {
            if (!current.empty()) blocks.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(line);
        }
        start = end + 1;
    }
    if (!current.empty()) blocks.push_back(std::move(current));
    return blocks;
}

// One pass over every block; the checksum keeps the work from being dropped.
double Pass(const std::vector<Block>& blocks, size_t& checksum, size_t& failures) {
    const auto begin = std::chrono::steady_clock::now();
    for (const Block& block : blocks) {
        kalmuro::TMailMessage message;
        for (std::string_view line : block) message.HeaderLines.Add(line);
        try {
            message.InterpretHeaders();
        } catch (const kalmuro::EError&) {
            ++failures;
        }
        checksum += message.From.Name.size() + message.From.Address.size() +
                    message.Subject.size() + static_cast<size_t>(message.Date);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_headers CORPUS [--runs R]\n");
        return 2;
    }
    int runs = 5;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));

    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string corpus = buffer.str();
    const std::vector<Block> blocks = SplitCorpus(corpus);
    if (blocks.empty()) {
        std::fprintf(stderr, "no headers in %s\n", argv[1]);
        return 1;
    }

    size_t checksum = 0, failures = 0;
    Pass(blocks, checksum, failures);  // warm the caches and the allocator
    std::vector<double> seconds;
    for (int run = 1; run <= runs; ++run) {
        seconds.push_back(Pass(blocks, checksum, failures));
        std::printf("run=%d headers=%zu seconds=%.4f\n", run, blocks.size(), seconds.back());
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("checksum=%zu failures_per_pass=%zu\n", checksum, failures / (runs + 1));
    std::printf("headers=%zu headers_per_s=%.0f runs=%d\n", blocks.size(), blocks.size() / median,
                runs);
    return 0;
}
