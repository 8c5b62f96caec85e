"""Reads a FITS copy with astropy, independently of the code that wrote it.

    python3 -W error check_fits.py COPY.fits RAW.ccd [RECORD.json]

Prints each difference from the raw frame (pixels, overscan sections) and
from the record (keywords), and exits 1 when there is one. Run with warnings
as errors: a copy astropy has anything to say about fails."""
import json
import sys

import numpy as np
from astropy.io import fits
from astropy.time import Time

fits_path, raw_path = sys.argv[1], sys.argv[2]
faults = []


def expect(what, got, want):
    if got != want:
        faults.append(f"{what}: {got!r}, expected {want!r}")


def near(what, got, want, tol):
    if not abs(got - want) <= tol:
        faults.append(f"{what}: {got!r}, expected {want!r}")


with open(raw_path, "rb") as f:
    raw = f.read()
with fits.open(fits_path, checksum=True) as hdul:
    hdul.verify("exception")
    h = hdul[0].header
    data = hdul[0].data
    n1, n2 = h["NAXIS1"], h["NAXIS2"]
    counts = np.frombuffer(raw, dtype=">i2", count=n1 * n2, offset=5760).astype(np.int32) + 32768
    expect("pixel type", data.dtype, np.dtype("uint16"))
    if not np.array_equal(data.astype(np.int32), counts.reshape(n2, n1)):
        faults.append("pixels differ from the raw counts")

    # The sections address the overscan: the simulated camera's two bias levels.
    def region(key):
        x, y = h[key].strip("[]").split(",")
        x1, x2 = (int(v) for v in x.split(":"))
        y1, y2 = (int(v) for v in y.split(":"))
        return data[y1 - 1:y2, x1 - 1:x2].astype(float)

    expect("DATASEC", h["DATASEC"], f"[1:{n2},1:{n2}]")
    expect("BIASSEC", h["BIASSEC"], f"[{n2 + 1}:{n1},1:{n2}]")
    # Each detector half's image sits on that half's bias: the sky above it
    # is the simulated 800 counts.
    for half, bias in (("A", 1000), ("B", 1200)):
        if "BIASSEC" + half in h:
            near("overscan level " + half, region("BIASSEC" + half).mean(), bias, 5)
            sky = np.median(region("DATASEC" + half)) - np.median(region("BIASSEC" + half))
            near("sky above the bias " + half, sky, 800, 20)

    near("MJD-OBS of DATE-OBS", Time(h["DATE-OBS"], scale="utc").mjd, h["MJD-OBS"], 1e-6)

    if len(sys.argv) > 3:
        with open(sys.argv[3]) as f:
            r = json.load(f)
        expect("OBSREC", h["OBSREC"], True)
        expect("OBJECT", h["OBJECT"], r["object"])
        expect("OBSERVER", h["OBSERVER"], r["observers"])
        expect("RA", h["RA"], r["ra_j2000"])
        expect("DEC", h["DEC"], r["dec_j2000"])
        near("RA_DEG", h["RA_DEG"], r["ra_deg"], 1e-6)
        near("DEC_DEG", h["DEC_DEG"], r["dec_deg"], 1e-6)
        expect("EQUINOX", h["EQUINOX"], 2000.0)
        expect("RADESYS", h["RADESYS"], "FK5")
        expect("FILTER", h["FILTER"], r["filter"])
        expect("EXPTIME", h["EXPTIME"], r["exposure"])
        near("DATE-OBS", Time(h["DATE-OBS"]).unix, Time(r["utc_start"].rstrip("Z")).unix, 1e-3)
        near("MJD-OBS", h["MJD-OBS"], r["jd_start"] - 2400000.5, 1e-7)
        expect("BATCHTXT", h["BATCHTXT"], r["line"])
        expect("BATCHFIL", h["BATCHFIL"], r["batch_file"])

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
