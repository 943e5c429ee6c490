// The drives of the figures' index by the text SQL partitions them by (the
// serial, else "run/slot"): each key once, in one block of bytes, found by
// open addressing. A million drives cost about 20 bytes each.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace ufd {

class UnitTable {
public:
    void Clear();
    // The key's id (1, 2, ...), given on first sight.
    quint32 Id(const QByteArray& key);
    // One more than the highest id: the size of a table indexed by id.
    quint32 Count() const { return static_cast<quint32>(ends_.size()) + 1; }

private:
    QByteArrayView At(quint32 id) const;
    void Grow();
    std::vector<char> bytes_;
    std::vector<quint32> ends_;  // unit id - 1 -> end of its key in bytes_
    std::vector<quint32> slots_; // open addressing; 0 empty, else unit id
};

} // namespace ufd
