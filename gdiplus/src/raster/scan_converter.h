// The layer's scan converter: which share of each pixel a filled outline covers. One converter
// with two sample grids. Aliased, a pixel is sampled once, at its centre; smoothed, on a box of
// 8 x 4 points, (x + (i + 1/2) / 8, y + (j + 1/2) / 4) for pixel (x, y) covering [x, x + 1) x
// [y, y + 1), and its coverage is the share of the 32 that lie inside. Eight across and four
// down make the filter finer for nearly vertical edges than for nearly horizontal ones.
//
// A sample is inside when the winding number of the edges to its left passes the fill rule
// (even-odd or non-zero). An edge counts for a sample when the sample's row lies in
// [top, bottom) of the edge and the edge's point on that row lies at or left of the sample: a
// sample on an edge belongs to the shape right of it.
#pragma once

#include "fixed.h"
#include "geometry.h"

#include <cstdint>

namespace gdiplus_cairo {

struct Edge {
    FixedPoint top, bottom; // top.y < bottom.y
    int dir;                // +1 for an edge drawn downwards, -1 upwards
};

// The edges of one shape, in per-thread scratch storage: one list per thread at a time.
class EdgeList {
public:
    EdgeList();
    // The edge from -> to; a horizontal one is dropped.
    void Add(FixedPoint from, FixedPoint to) {
        if (from.y != to.y && (m_count < m_capacity || Grow())) {
            m_edges[m_count++] = from.y < to.y ? Edge{from, to, 1} : Edge{to, from, -1};
        }
    }
    // The edges of a closed polygon, the last point joined back to the first.
    void AddPolygon(const FixedPoint* points, int64_t count);

    // False once scratch memory has been lacking; the edges are then incomplete.
    bool Valid() const { return m_edges != nullptr; }
    const Edge* Edges() const { return m_edges; }
    int64_t Count() const { return m_count; }

private:
    // Room for twice as many edges; false, the edges then incomplete, when it cannot be had.
    bool Grow();

    Edge* m_edges;
    int64_t m_count = 0;
    int64_t m_capacity;
};

class CoverageSink {
public:
    // The coverage of row y, columns x0 to x0 + count - 1, 0 to 255 (some may be zero). Of
    // these, alpha[full[2 k]] to alpha[full[2 k + 1] - 1] are fully covered for each k below
    // runs: the longer stretches inside the shape (other bytes may be full too).
    virtual void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count,
                     const int64_t* full, int64_t runs) = 0;

protected:
    ~CoverageSink() = default;
};

// The 8 x 4 coverage of the edges' fill over a width x height surface, rows with any coverage
// to the sink from top to bottom. A pixel's coverage byte is its inside samples times 255 / 32,
// rounded. Returns false, with nothing produced, when scratch memory is lacking. Points may lie
// anywhere within 2^31 pixels.
bool CoverSmoothed(const EdgeList& edges, bool even_odd, int64_t width, int64_t height,
                   CoverageSink& sink);

// The pixels whose centre lies inside the edges' fill, each row's runs to the sink at once.
// Returns false as CoverSmoothed does.
bool ScanAliased(const EdgeList& edges, bool even_odd, int64_t width, int64_t height,
                 RunSink& sink);

// The coverage byte of a pixel with `inside` of its 32 samples inside.
constexpr uint8_t SmoothedAlpha(int inside) {
    return static_cast<uint8_t>((inside * 255 + 16) / 32);
}

} // namespace gdiplus_cairo
