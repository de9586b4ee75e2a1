// Positions on the WGS-84 ellipsoid as metres east, north and up of a reference position:
// the local tangent plane through the reference, by way of earth-centred coordinates. Exact
// at any distance (no small-angle shortcut), so a scatter of a few metres and a track of a
// few kilometres are measured by the same rule.
//
// Thread rule: pure functions.
#pragma once

struct Geodetic {
  double latitude = 0;   // [deg], north positive
  double longitude = 0;  // [deg], east positive
  double height = 0;     // [m] above the ellipsoid
};

struct Enu {
  double east = 0;   // [m]
  double north = 0;  // [m]
  double up = 0;     // [m]
};

// Where `point` lies in the tangent plane of `reference`.
Enu EnuOf(const Geodetic& reference, const Geodetic& point);
// The position that lies at `offset` in the tangent plane of `reference`.
Geodetic GeodeticOf(const Geodetic& reference, const Enu& offset);
