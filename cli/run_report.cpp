#include "cli/run_report.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/json_text.h"
#include "engine/quality_score.h"

namespace pimo::cli {

namespace {

std::string Decimal(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The score fields of a JSON record: null when the output has no score.
std::string ScoreJson(const batch::BatchEntryResult& result) {
    const std::optional<engine::QualityScore>& score = result.Score;
    std::string json = ",\"distance\":" + (score ? Decimal(score->maxDistance, 4) : "null");
    json += ",\"distance_3norm\":" + (score ? Decimal(score->norm3, 4) : "null");
    if (score)
        json += ",\"quality\":" +
                JsonText(std::string(engine::ReadingText(engine::ReadingOf(score->maxDistance))));
    return json;
}

}  // namespace

RunReport::RunReport(const CliArguments& arguments, std::size_t count)
    : m_arguments(arguments),
      m_count(count),
      m_progressBar(!arguments.json && !arguments.quiet && isatty(STDERR_FILENO)) {}

void RunReport::add(std::size_t position, const std::string& file,
                    const batch::BatchEntryResult& result) {
    if (result.Skipped) {
        ++m_skipped;
    } else {
        ++m_processed;
        if (result.Failed) {
            ++m_failed;
        } else {
            m_before += std::max<std::int64_t>(result.OriginalSize, 0);
            m_after += result.ResultSize;
        }
    }
    m_errorLog.insert(m_errorLog.end(), result.ErrorLog.begin(), result.ErrorLog.end());
    if (m_progressBar) std::cerr << "\r\033[K";
    printRecord(file, result);
    std::cout.flush();
    if (m_progressBar) printProgress(position);
}

void RunReport::printRecord(const std::string& file, const batch::BatchEntryResult& result) const {
    if (m_arguments.json) {
        std::cout << "{" << JsonPath("file", file) << ",\"status\":" << JsonText(result.Status)
                  << "," << JsonPath("destination", result.Destination)
                  << ",\"bytes_before\":" << result.OriginalSize
                  << ",\"bytes_after\":" << result.ResultSize
                  << ",\"failed\":" << (result.Failed ? "true" : "false")
                  << ",\"skipped\":" << (result.Skipped ? "true" : "false");
        if (m_arguments.score) std::cout << ScoreJson(result);
        if (m_arguments.targetQuality > 0) std::cout << ",\"setting\":" << result.ChosenSetting;
        std::cout << ",\"log\":[";
        for (std::size_t i = 0; i < result.ErrorLog.size(); ++i)
            std::cout << (i ? "," : "") << JsonText(result.ErrorLog[i]);
        std::cout << "]}\n";
    } else if (!m_arguments.quiet || result.Failed) {
        std::ostream& out = m_arguments.quiet ? std::cerr : std::cout;
        out << file << ": " << result.Status;
        if (m_arguments.score && result.Score)
            out << ", distance " << engine::QualityText(result.Score->maxDistance);
        out << '\n';
    }
}

void RunReport::printProgress(std::size_t position) const {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = (position + 1) * kWidth / m_count;
    std::cerr << '[' << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
              << position + 1 << '/' << m_count << std::flush;
}

void RunReport::finish() {
    if (m_progressBar) std::cerr << "\r\033[K";
    const double saved =
        m_before > 0 ? (m_before - m_after) * 100.0 / static_cast<double>(m_before) : 0.0;
    if (m_arguments.json) {
        std::cout << "{\"summary\":{\"files\":" << m_processed << ",\"failed\":" << m_failed
                  << ",\"skipped\":" << m_skipped << ",\"bytes_before\":" << m_before
                  << ",\"bytes_after\":" << m_after << ",\"saved_percent\":" << Decimal(saved, 2)
                  << "}}\n";
    } else {
        for (const std::string& line : m_errorLog) std::cerr << line << '\n';
        if (!m_arguments.quiet)
            std::cout << m_processed << " file(s) processed, " << m_failed << " failed, "
                      << m_skipped << " skipped; " << m_before << " bytes before, " << m_after
                      << " bytes after, " << Decimal(saved, 2) << "% saved\n";
    }
}

}  // namespace pimo::cli
