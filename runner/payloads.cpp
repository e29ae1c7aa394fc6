#include <stdlib.h>
#include <string.h>

#include "runner/harness.h"

const unsigned char* bulkPayload = nullptr;
const unsigned char* rasterJob = nullptr;

static const uint32_t BULK_MARK_SPACING = 1024;
static const uint32_t RASTER_ROWS = 1600;
static const uint32_t RASTER_ROW_SIZE = 75;
static const uint32_t RASTER_ROW_DATA = 72;

static void fillRasterJob(unsigned char* job)
{
    static const unsigned char start[] = { 0x1B, 0x2A, 0x72, 0x52, 0x1B, 0x2A, 0x72, 0x41 };
    static const unsigned char end[] = { 0x1B, 0x0C, 0x00, 0x1B, 0x2A, 0x72, 0x42 };
    memset(job, 0, RASTER_JOB_SIZE);
    unsigned char* at = job;
    memcpy(at, start, sizeof start);
    at += sizeof start;
    for (uint32_t row = 0; row < RASTER_ROWS; ++row) {
        at[0] = 0x62;
        at[1] = RASTER_ROW_DATA;
        at[2] = 0x00;
        memset(at + 3, 0xFF, RASTER_ROW_DATA);
        at += RASTER_ROW_SIZE;
    }
    memcpy(at, end, sizeof end);
    at += sizeof end;
    memset(at, 0x07, 10);
    // The 75 trailing zeros are already in place and are always sent.
}

bool preparePayloads()
{
    unsigned char* bulk = static_cast<unsigned char*>(malloc(BULK_PAYLOAD_SIZE));
    unsigned char* raster = static_cast<unsigned char*>(malloc(RASTER_JOB_SIZE));
    if (bulk == nullptr || raster == nullptr) {
        free(bulk);
        free(raster);
        return false;
    }
    memset(bulk, 0, BULK_PAYLOAD_SIZE);
    for (uint32_t i = 0; i < BULK_PAYLOAD_SIZE; i += BULK_MARK_SPACING) bulk[i] = 0x07;
    fillRasterJob(raster);
    bulkPayload = bulk;
    rasterJob = raster;
    return true;
}
