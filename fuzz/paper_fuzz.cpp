// The printer's reading of a job, with whatever bytes a library sends: it
// must end, keep every row within what it declared, and leave only the last
// row of a job short, since a row takes its declared bytes while there are any.
#include <stdint.h>
#include <stdlib.h>

#include "vprinter/paper.h"

using vprinter::Printed;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Printed> printed = vprinter::printJob(data, size);
    size_t shortRows = 0;
    size_t rowBytes = 0;
    for (const Printed& p : printed) {
        for (const vprinter::RasterRow& row : p.raster.rows) {
            if (row.data.size() > row.declared) abort();
            rowBytes += row.data.size();
        }
        shortRows += p.raster.shortRows();
        if (p.kind != Printed::Raster && !p.raster.rows.empty()) abort();
    }
    if (shortRows > 1 || rowBytes > size) abort();
    if (shortRows == 1) {
        const Printed* last = nullptr;
        for (const Printed& p : printed) {
            if (p.kind == Printed::Raster) last = &p;
        }
        if (last == nullptr || last->raster.rows.back().data.size() == last->raster.rows.back().declared) abort();
    }
    return 0;
}
