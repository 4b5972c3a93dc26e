// Reads back what the log holds, for tests that check logged messages.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "log/log.h"

struct logged {
    Uint32 level;
    std::string subsystem;
    std::string message;
    bool operator==(const logged &o) const
    {
        return level == o.level && subsystem == o.subsystem && message == o.message;
    }
};

inline std::ostream &operator<<(std::ostream &os, const logged &e)
{
    return os << "{" << e.level << ", " << e.subsystem << ", \"" << e.message << "\"}";
}

// Takes every pending entry out of the log.
inline std::vector<logged> drain_log()
{
    std::vector<logged> out;
    log_entry *list = log_get_entries();
    for (log_entry *e = list; e; e = e->next)
        out.push_back({e->level, e->subsystem, e->message});
    log_free_entries(list);
    return out;
}
