#pragma once
// What pimo-cli prints of a run: a line (or a JSON record) per file as it is
// reported, a progress bar on a terminal, and the totals at the end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/batch_runner.h"
#include "cli/cli_arguments.h"

namespace pimo::cli {

class RunReport {
  public:
    /// A run of `count` files with the output options of `arguments`; the
    /// progress bar only when standard error is a terminal and nothing else
    /// reads the output.
    RunReport(const CliArguments& arguments, std::size_t count);

    /// The `position`-th file reported (from 0), whose source is `file`.
    void add(std::size_t position, const std::string& file, const batch::BatchEntryResult& result);
    /// The progress bar cleared, the error log and the totals printed.
    void finish();
    bool anyFailed() const { return m_failed > 0; }

  private:
    void printRecord(const std::string& file, const batch::BatchEntryResult& result) const;
    void printProgress(std::size_t position) const;

    const CliArguments& m_arguments;
    std::size_t m_count;
    bool m_progressBar;
    std::size_t m_processed = 0, m_failed = 0, m_skipped = 0;
    std::int64_t m_before = 0, m_after = 0;
    std::vector<std::string> m_errorLog;
};

}  // namespace pimo::cli
