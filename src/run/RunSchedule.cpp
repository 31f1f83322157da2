#include "run/RunSchedule.h"

#include <algorithm>

namespace tarvok {

void RunSchedule::clear()
{
    addresses_.clear();
    comments_.clear();
    starts_.clear();
    size_ = 0;
}

void RunSchedule::build(const TargetList& targets, bool termToCycle, const std::function<int()>& pingCount)
{
    clear();
    termToCycle_ = termToCycle;
    addresses_ = targets.addresses();
    comments_ = targets.comments();
    const qint64 n = targets.count();
    if (termToCycle) {
        const int count = pingCount();
        size_ = count > 0 ? n * count : 0;
    } else {
        starts_.reserve(n + 1);
        qint64 total = 0;
        for (qint64 i = 0; i < n; ++i) {
            starts_.push_back(total);
            const int count = pingCount();
            if (count > 0)
                total += count;
        }
        starts_.push_back(total);
        size_ = total;
    }
    if (size_ == 0)
        clear();
}

int RunSchedule::targetIndexAt(qint64 k) const
{
    if (k < 0 || k >= size_)
        return -1;
    if (termToCycle_)
        return static_cast<int>(k % addresses_.size());
    // The last start not above k; targets with no echoes share their start
    // with the next one, upper_bound steps past them.
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), k);
    return static_cast<int>(it - starts_.begin()) - 1;
}

ScheduleEntry RunSchedule::at(qint64 k) const
{
    const int i = targetIndexAt(k);
    if (i < 0)
        return {};
    return {addresses_.at(i), comments_.at(i), i};
}

} // namespace tarvok
