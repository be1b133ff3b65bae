#include <algorithm>

#include "tools/import/ProgressTable.h"
#include "tools/import/Terminal.h"

namespace kelto::cli {

ProgressBar::ProgressBar(const ProgressTable& table, std::string label, std::chrono::milliseconds delay)
    : table_(table), label_(std::move(label)) {
    thread_ = std::thread([this, delay] { Run(delay); });
}

ProgressBar::~ProgressBar() { Stop(); }

void ProgressBar::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ProgressBar::Run(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, delay, [this] { return stopping_; })) return;
    while (true) {
        Terminal::DrawBar(Render(label_, table_.RowsDelivered(), table_.RowsAnnounced(), Terminal::Columns()));
        if (wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopping_; })) break;
    }
    Terminal::ClearBar();
}

std::string ProgressBar::Render(const std::string& label, int delivered, int announced, int width) {
    // A reader that has not announced its real size yet (some give 1 until they have parsed
    // the file) gets a count without a bar.
    if (announced <= 1) {
        std::string text = label + ": " + std::to_string(std::max(delivered, 0)) + " rows";
        return text.substr(0, static_cast<std::size_t>(std::max(width - 1, 0)));
    }
    delivered = std::clamp(delivered, 0, announced);
    const int percent = static_cast<int>(100LL * delivered / announced);
    std::string counts = " " + std::to_string(percent) + "% " + std::to_string(delivered) + "/" +
                         std::to_string(announced) + " rows";
    // The label gives way to the bar when the terminal is narrow.
    int barWidth = std::min(40, width - 1 - static_cast<int>(counts.size()) - 2 - 12);
    std::string name = label;
    if (barWidth < 10) {
        barWidth = std::max(width - 1 - static_cast<int>(counts.size()) - 2, 0);
        name.clear();
    } else {
        int room = width - 1 - static_cast<int>(counts.size()) - 2 - barWidth - 2;
        if (room < static_cast<int>(name.size())) name = room > 3 ? "..." + name.substr(name.size() - room + 3) : "";
    }
    const int filled = static_cast<int>(static_cast<long long>(barWidth) * delivered / announced);
    std::string text = name.empty() ? std::string() : name + ": ";
    text += '[';
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(barWidth - filled), '.');
    text += ']';
    text += counts;
    return text;
}

}  // namespace kelto::cli
