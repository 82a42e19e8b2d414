"""A run container opens in netCDF4 and xarray with no code of ours, laid out as the README says.

Usage: container_open.py XCORRNET_V3 XCN_SYNTH SCRATCH_DIR. Exits 77 (skipped) without the modules.
"""
import os
import shutil
import subprocess
import sys

try:
    import netCDF4
    import numpy as np
    import xarray as xr
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

tool, synth, scratch = sys.argv[1:4]
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
subprocess.run([synth, "--stations", "4", "--samples", "8000", "--out", scratch], check=True,
               stdout=subprocess.DEVNULL)
subprocess.run([tool, "stations.txt", "run.nc", "B", "Y"], cwd=scratch, check=True,
               stdout=subprocess.DEVNULL)
path = os.path.join(scratch, "run.nc")

with netCDF4.Dataset(path) as nc:
    assert nc.dimensions["pair"].size == 10, nc.dimensions
    assert nc.dimensions["lag"].size == 2000, nc.dimensions
    ccf = nc.variables["ccf"]
    assert ccf.dtype == np.float32 and ccf.dimensions == ("pair", "lag")
    assert ccf.chunking() == "contiguous", ccf.chunking()
    # Texts come back as strings, not as arrays of characters.
    first = nc.variables["first"][:]
    assert first.shape == (10,) and first[0] == "ST01.BHZ.sac", first
    assert nc.variables["lag"].units == "s"
    assert nc.interval == 1.0 and nc.window == 2000.0 and nc.step == 200.0
    assert nc.program.startswith("xcorrnet_v3 ")

ds = xr.open_dataset(path)
assert ds.ccf.shape == (10, 2000)
assert float(ds.lag[0]) == -1000.0 and float(ds.lag[1000]) == 0.0
assert len(set(ds.first.values[:4])) == 1 and len(set(ds.second.values[:4])) == 4
assert ds.first.values[0] == "ST01.BHZ.sac", ds.first.values
assert (ds.stacked.values > 0).all(), ds.stacked.values
# A pair's correlation by its records, as the README shows it.
one = ds.ccf.where((ds.first == ds.first[1]) & (ds.second == ds.second[1]), drop=True)
assert one.shape == (1, 2000)
assert np.isfinite(ds.dist.values).all()
print("container opened by netCDF4 and xarray: 10 pairs of 2000 lags")
