// Hyperspace streaks: the newer end of every motion-blur segment is moved
// by a fixed displacement in camera space before clipping and projection,
// so each star is drawn stretched against a direction of travel.
#pragma once

#include "plugin/host.h"

struct Hyperspace {
  enum Direction { kImageCenter = 0, kObjectXAxis = 1 };

  // Displacement, in world units: hyperspacedepth, times the 3D domain's
  // radius when the domain is on (so a fraction of the ball's radius).
  float depth = 0.0f;
  // 0 "Image Center": along the view axis; 1 "Object +X Axis": along the
  // direction object's +X axis (scale included); other values: no shift.
  int direction = kImageCenter;
  // The direction object's X axis in world space, evaluated at the render
  // time only (the world X axis without an object).
  Point3 xAxis{1, 0, 0};

  // The newer end `cur` (camera space) of a segment, displaced by -depth
  // along the direction; `view` is the view sample of that end.
  Point3 Shift(Point3 cur, const Matrix3& view) const {
    switch (direction) {
      case kImageCenter:
        // In front of the camera z < 0: a positive depth moves the end
        // towards the camera and its projection away from the centre.
        cur.z = cur.z + depth;
        return cur;
      case kObjectXAxis: {
        const Point3 d = xAxis * depth;
        const Point3 a = view.PointTransform(d);
        const Point3 o = view.PointTransform(Point3::Origin);
        return cur + (o - a);
      }
      default:
        return cur;
    }
  }

  // What Shift adds to a point at this view sample, as the float vector it
  // adds (a bound of where shifted points can lie).
  Point3 Displacement(const Matrix3& view) const {
    switch (direction) {
      case kImageCenter:
        return Point3(0, 0, depth);
      case kObjectXAxis: {
        const Point3 d = xAxis * depth;
        return view.PointTransform(Point3::Origin) - view.PointTransform(d);
      }
      default:
        return Point3(0, 0, 0);
    }
  }
};
