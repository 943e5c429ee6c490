#include "results/unit_table.h"

#include <QHashFunctions>

namespace ufd {

void UnitTable::Clear() {
    bytes_.clear();
    ends_.clear();
    slots_.assign(1024, 0);
}

QByteArrayView UnitTable::At(quint32 id) const {
    const quint32 begin = id > 1 ? ends_[id - 2] : 0;
    return {bytes_.data() + begin, qsizetype(ends_[id - 1] - begin)};
}

void UnitTable::Grow() {
    std::vector<quint32> old(slots_.size() * 2, 0);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (quint32 id : old) {
        if (id != 0) {
            size_t at = qHash(At(id)) & mask;
            while (slots_[at] != 0) {
                at = (at + 1) & mask;
            }
            slots_[at] = id;
        }
    }
}

quint32 UnitTable::Id(const QByteArray& key) {
    if (slots_.empty()) {
        Clear();
    }
    const size_t mask = slots_.size() - 1;
    size_t at = qHash(QByteArrayView(key)) & mask;
    for (; slots_[at] != 0; at = (at + 1) & mask) {
        if (At(slots_[at]) == key) {
            return slots_[at];
        }
    }
    bytes_.insert(bytes_.end(), key.begin(), key.end());
    ends_.push_back(static_cast<quint32>(bytes_.size()));
    const quint32 id = static_cast<quint32>(ends_.size());
    slots_[at] = id;
    if (ends_.size() * 2 > slots_.size()) {
        Grow();
    }
    return id;
}

} // namespace ufd
