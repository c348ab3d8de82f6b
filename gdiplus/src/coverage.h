// Anti-aliased coverage of polygon fills and stroke outlines, found by the layer itself. It
// reproduces Cairo's arithmetic (its polygon edges and its anti-aliased scan converter) so that
// every coverage byte matches Cairo's exactly, but keeps a row's cells in flat arrays.
#pragma once

#include "geometry.h"

#include <cstdint>

namespace gdiplus_cairo {

// An edge as Cairo's polygon keeps it: the line p1 -> p2 (p1 the upper end) in 256ths, the rows
// top..bottom of it that count, and its direction.
struct CoverageEdge {
    FixedPoint p1, p2;
    int64_t top, bottom;
    int dir;
};

// Gathers the edges of a shape to be covered over a width x height surface, in per-thread scratch
// storage (one builder per thread at a time). Horizontal edges are dropped and the rest oriented
// downwards, with their direction flipped when they point up. Parts beyond the surface are clipped
// as Cairo clips a shape that leaves its surface: the part of an edge beyond the left or right
// side becomes a vertical edge on that side, so the winding inside stays the same.
class EdgeBuilder {
public:
    EdgeBuilder(int64_t width, int64_t height);
    void Add(FixedPoint p1, FixedPoint p2, int dir);

    // False once scratch memory has been lacking; the edges are then incomplete.
    bool Valid() const { return m_edges != nullptr; }
    const CoverageEdge* Edges() const { return m_edges; }
    int64_t Count() const { return m_count; }
    int64_t Width() const { return m_width; }
    int64_t Height() const { return m_height; }
    // The edges' horizontal extent in 256ths, as Cairo's polygon records it.
    int64_t Left() const { return m_left; }
    int64_t Right() const { return m_right; }

private:
    void AddClipped(FixedPoint p1, FixedPoint p2, int64_t top, int64_t bottom, int dir);
    void Push(FixedPoint p1, FixedPoint p2, int64_t top, int64_t bottom, int dir);

    CoverageEdge* m_edges;
    int64_t m_count = 0;
    int64_t m_capacity = 0;
    int64_t m_width;
    int64_t m_height;
    int64_t m_left, m_right;
};

// Adds the edges of a closed polygon as Cairo's path hands them on: a point equal to the one
// before is dropped, and consecutive edges along one line in one direction become one edge (this
// decides where the converter may take whole rows at once). Returns false, adding nothing, for an
// outline of horizontal and vertical edges only: Cairo fills those by another route.
bool AddPolygon(EdgeBuilder& edges, const FixedPoint* points, int64_t count);

class CoverageSink {
public:
    // The coverage of row y, columns x0 to x0 + count - 1 (some may be zero). Of these,
    // alpha[full[2 k]] to alpha[full[2 k + 1] - 1] are fully covered for each k below runs: the
    // longer stretches that no edge crosses (other bytes may be full too).
    virtual void Row(int64_t y, int64_t x0, const uint8_t* alpha, int64_t count,
                     const int64_t* full, int64_t runs) = 0;

protected:
    ~CoverageSink() = default;
};

// The 8-bit coverage of the edges' fill, as Cairo's anti-aliased scan converter finds it over the
// builder's surface: each row sampled on 15 sub-rows, or taken whole where no edge starts, ends or
// crosses another in it. Rows with any coverage go to the sink from top to bottom. Returns false,
// with nothing produced, when scratch memory is lacking, or for a point or surface side beyond
// 32768 pixels (the arithmetic, Cairo's as well, soon leaves 64 bits beyond that).
bool CoverEdges(const EdgeBuilder& edges, bool even_odd, CoverageSink& sink);

} // namespace gdiplus_cairo
