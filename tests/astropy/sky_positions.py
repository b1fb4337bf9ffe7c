#!/usr/bin/python3
"""Where astropy sees a catalogue's stars on a velumbra camera's frame.

The oracle of the end-to-end sky tests (sky_render_test.cpp): reads KStars'
stars.dat with its own parser, moves each star to the time of the shot with
astropy's space motion (proper motion and parallax), and either projects its
apparent place in the local horizon (AltAz with pressure 0: no refraction,
the UT1-UTC given) or, for the celestial frame, its ICRS place at that time.
The direction is then projected with velumbra's camera conventions
(docs/scene-format.md): a camera at the origin looking at `target`, its
+Y as close to world +Z as can be, horizontal field of view `fov`,
kx = (W/2) / tan(fov/2), xc = (W-1)/2, yc = (H-1)/2,
x = xc + kx * right / forward, y = yc - kx * up / forward.

Usage: sky_positions.py REQUEST.json  (answer as JSON on standard output)
  request: {"catalogue": PATH, "magnitudeLimit": M,
            "cases": [{"frame": "observer" | "celestial", "utc": ISO,
                       "ut1MinusUtc": S, "latitude": DEG, "longitude": DEG,
                       "height": M, "width": W, "imageHeight": H,
                       "fov": DEG, "target": [x, y, z]}, ...]}
  answer:  {"cases": [{"stars": [{"line": N, "magnitude": M, "x": X, "y": Y},
                                  ...]}, ...]}
  line is the star's 1-based line in the catalogue; stars behind the camera,
  more than 50 px outside the frame or (observer) below the horizon are left
  out. Runs offline: astropy's IERS tables are never downloaded.
"""
import json
import sys
import warnings

import numpy as np
from astropy.utils import iers

iers.conf.auto_download = False
iers.conf.auto_max_age = None

import astropy.units as u  # noqa: E402
from astropy.coordinates import AltAz, EarthLocation, SkyCoord  # noqa: E402
from astropy.time import Time  # noqa: E402


def read_stars_dat(path, limit):
    """The stars of KStars' stars.dat brighter than `limit`, columns as its
    header line lays them out: RA hhmmss.ss, Dec sddmmss.s, proper motion in
    RA (times cos Dec) and Dec in mas/yr, parallax in mas, V magnitude."""
    lines, ra, dec, pmra, pmdec, plx, mag = [], [], [], [], [], [], []
    with open(path, encoding="latin-1") as f:
        for number, text in enumerate(f, start=1):
            if text.startswith("#") or not text.strip():
                continue
            m = float(text[45:51])
            if m >= limit:
                continue
            h, mi, s = float(text[0:2]), float(text[2:4]), float(text[4:9])
            sign = -1.0 if text[10] == "-" else 1.0
            d, dm, ds = float(text[11:13]), float(text[13:15]), float(text[15:19])
            lines.append(number)
            ra.append(15.0 * (h + mi / 60.0 + s / 3600.0))
            dec.append(sign * (d + dm / 60.0 + ds / 3600.0))
            pmra.append(float(text[20:29]))
            pmdec.append(float(text[29:38]))
            plx.append(float(text[38:45]))
            mag.append(m)
    return (np.array(lines), np.array(ra), np.array(dec), np.array(pmra), np.array(pmdec), np.array(plx),
            np.array(mag))


def camera_basis(target):
    forward = np.asarray(target, dtype=float)
    forward /= np.linalg.norm(forward)
    right = np.cross(forward, [0.0, 0.0, 1.0])
    right /= np.linalg.norm(right)
    up = np.cross(right, forward)
    return right, up, forward


def main():
    request = json.load(open(sys.argv[1]))
    lines, ra, dec, pmra, pmdec, plx, mag = read_stars_dat(request["catalogue"], request["magnitudeLimit"])
    # A star without a parallax is far: 1 Mpc moves no star measurably.
    distance = np.where(plx > 0, 1000.0 / np.where(plx > 0, plx, 1.0), 1.0e6) * u.pc
    stars = SkyCoord(ra=ra * u.deg, dec=dec * u.deg, pm_ra_cosdec=pmra * u.mas / u.yr, pm_dec=pmdec * u.mas / u.yr,
                     distance=distance, radial_velocity=np.zeros(len(ra)) * u.km / u.s, frame="icrs",
                     obstime=Time("J2000", scale="tt"))
    answer = {"cases": []}
    for case in request["cases"]:
        place = EarthLocation.from_geodetic(case.get("longitude", 0.0) * u.deg, case.get("latitude", 0.0) * u.deg,
                                            case.get("height", 0.0) * u.m)
        t = Time(case["utc"].rstrip("Z"), format="isot", scale="utc", location=place)
        t.delta_ut1_utc = case.get("ut1MinusUtc", 0.0)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # ERFA's "dubious year" for dates past its leap-second table
            moved = stars.apply_space_motion(new_obstime=t)
            if case["frame"] == "observer":
                seen = moved.transform_to(AltAz(obstime=t, location=place, pressure=0 * u.hPa))
                alt, az = seen.alt.rad, seen.az.rad
                # The local horizon: x east, y north, z up; azimuth from north through east.
                v = np.stack([np.cos(alt) * np.sin(az), np.cos(alt) * np.cos(az), np.sin(alt)], axis=1)
                visible = alt > 0
            else:
                a, d = moved.ra.rad, moved.dec.rad
                v = np.stack([np.cos(d) * np.cos(a), np.cos(d) * np.sin(a), np.sin(d)], axis=1)
                visible = np.ones(len(a), dtype=bool)
        w, h = case["width"], case["imageHeight"]
        right, up, forward = camera_basis(case["target"])
        kx = (w / 2.0) / np.tan(np.radians(case["fov"]) / 2.0)
        depth = v @ forward
        with np.errstate(divide="ignore", invalid="ignore"):
            x = (w - 1) / 2.0 + kx * (v @ right) / depth
            y = (h - 1) / 2.0 - kx * (v @ up) / depth
        keep = visible & (depth > 0) & (x > -50) & (x < w + 50) & (y > -50) & (y < h + 50)
        answer["cases"].append({"stars": [{"line": int(n), "magnitude": float(m), "x": float(px), "y": float(py)}
                                          for n, m, px, py in zip(lines[keep], mag[keep], x[keep], y[keep])]})
    json.dump(answer, sys.stdout)


if __name__ == "__main__":
    main()
