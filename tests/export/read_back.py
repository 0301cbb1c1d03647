"""spinmap-export as a user runs it: sample files exported to every format
and read back by readers that owe nothing to the exporter (zipfile,
xml.etree and hashlib for .x3p, tifffile for TIFF, numpy.loadtxt for the
text forms), value for value against the heights read from the data file
here and the nanometres spinmap-info reports; and the refusals, each with
its message, status 1 and no file left behind.

Usage: read_back.py SPINMAP_EXPORT SPINMAP_SAMPLE SPINMAP_INFO
"""
import datetime
import hashlib
import os
import re
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

import numpy as np
import tifffile

EXPORT, SAMPLE, INFO = sys.argv[1:4]
X3P = '{http://www.opengps.eu/2008/ISO5436_2}'
INVALID_HEIGHT = 2147483640

# Two samples: a format-3 cap with dropouts on a whole-camera window, and a
# format-1 file at Normal resolution whose height window lies away from the
# camera's corner, heights x + 1000 y.
SAMPLES = {
    'cap': ['-Camera', '64x48', '-Valid', '10,8,40,30'],
    'offset': ['-Camera', '50x40', '-Format', '1', '-PhaseRes', '0', '-Window', '5,4,30,20', '-Valid',
               '7,6,20,12', '-Aperture', 'rect', '-Surface', 'coords', '-Dropouts', '3', '-TimeStamp',
               '951782400'],
}


def run(*args, limit_bytes=None):
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit_bytes, limit_bytes))
    return subprocess.run(list(args), capture_output=True, text=True, env={**os.environ, 'TZ': 'UTC'},
                          preexec_fn=limited if limit_bytes else None)


class DataFile:
    """The header fields and height block of a data file, read here."""

    def __init__(self, path):
        with open(path, 'rb') as f:
            b = f.read()
        header = 4096 if struct.unpack_from('>I', b, 0)[0] == 0x881B0371 else 834
        intensity_bytes = struct.unpack_from('>i', b, 60)[0]
        self.x, self.y, self.width, self.height = struct.unpack_from('>4h', b, 64)
        self.time = struct.unpack_from('>i', b, 76)[0]
        scale, wavelength = struct.unpack_from('>2f', b, 164)
        obliquity = struct.unpack_from('>f', b, 176)[0]
        camera_res = struct.unpack_from('>f', b, 184)[0]
        per_fringe = {0: 4096, 1: 32768}.get(struct.unpack_from('>h', b, 218)[0], 131072)
        # As spinmap-info scales file units to nanometres.
        self.nm_per_count = scale * obliquity * wavelength / per_fringe * 1e9
        # CameraRes as the decimal its float holds.
        self.spacing = float(str(np.float32(camera_res)))
        self.values = np.frombuffer(b, '>i4', self.width * self.height, header + max(intensity_bytes, 0))
        self.values = self.values.reshape(self.height, self.width).astype(np.int64)
        self.valid = self.values < INVALID_HEIGHT

    def metres(self):
        return np.where(self.valid, self.values * self.nm_per_count / 1e9, np.nan)

    def points(self):
        rows, columns = np.nonzero(self.valid)
        return np.column_stack([(self.x + columns) * self.spacing, (self.y + rows) * self.spacing,
                                self.values[rows, columns] * self.nm_per_count / 1e9])


class ReadBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.files = {}
        for name, options in SAMPLES.items():
            path = os.path.join(cls.folder.name, name + '.dat')
            subprocess.run([SAMPLE, *options, path], check=True, capture_output=True)
            cls.files[name] = (path, DataFile(path))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def exported(self, name, extension):
        path, data = self.files[name]
        out = os.path.join(self.folder.name, name + extension)
        r = run(EXPORT, '-Overwrite', path, out)
        self.assertEqual((r.returncode, r.stderr), (0, ''))
        self.assertTrue(r.stdout.startswith('Wrote "%s": ' % out), r.stdout)
        return out, data

    def test_x3p_container_checksums_and_heights(self):
        for name in SAMPLES:
            with self.subTest(name):
                out, data = self.exported(name, '.x3p')
                with zipfile.ZipFile(out) as z:
                    self.assertEqual(z.namelist(), ['main.xml', 'bindata/data.bin', 'md5checksum.hex'])
                    self.assertIsNone(z.testzip())  # every CRC-32
                    xml, points, checksum = (z.read(n) for n in z.namelist())
                    members = z.infolist()
                # Stored members whose local headers agree with the central
                # directory, for readers that stream the archive.
                with open(out, 'rb') as f:
                    archive = f.read()
                for m in members:
                    self.assertEqual(struct.unpack_from('<I4xH4xIII', archive, m.header_offset),
                                     (0x04034b50, zipfile.ZIP_STORED, m.CRC, m.file_size, m.file_size))
                root = ET.fromstring(xml)
                self.assertEqual(root.tag, X3P + 'ISO5436_2')
                self.assertEqual(root.findtext('Record1/FeatureType'), 'SUR')
                for axis, kind, increment, offset in [('CX', 'I', data.spacing, data.x * data.spacing),
                                                      ('CY', 'I', data.spacing, data.y * data.spacing),
                                                      ('CZ', 'A', 1, 0)]:
                    a = root.find('Record1/Axes/' + axis)
                    self.assertEqual((a.findtext('AxisType'), a.findtext('DataType')), (kind, 'D'))
                    self.assertEqual((float(a.findtext('Increment')), float(a.findtext('Offset'))),
                                     (increment, offset))
                when = datetime.datetime.fromtimestamp(data.time, datetime.timezone.utc).isoformat()
                self.assertEqual(root.findtext('Record2/Date'), when)
                self.assertEqual(root.findtext('Record2/ProbingSystem/Type'), 'NonContacting')
                self.assertEqual([root.findtext('Record3/MatrixDimension/Size' + s) for s in 'XYZ'],
                                 [str(data.width), str(data.height), '1'])
                self.assertEqual(root.findtext('Record3/DataLink/PointDataLink'), 'bindata/data.bin')
                self.assertEqual(root.findtext('Record3/DataLink/MD5ChecksumPointData'),
                                 hashlib.md5(points).hexdigest())
                self.assertEqual(root.findtext('Record4/ChecksumFile'), 'md5checksum.hex')
                self.assertEqual(checksum.decode(), hashlib.md5(xml).hexdigest() + ' *main.xml\n')
                heights = np.frombuffer(points, '<f8').reshape(data.height, data.width)
                np.testing.assert_array_equal(heights, data.metres())

    def test_tiff_floats_and_resolution(self):
        for name, extension in [('cap', '.tif'), ('offset', '.TIFF')]:
            with self.subTest(name):
                out, data = self.exported(name, extension)
                with tifffile.TiffFile(out) as t:
                    page = t.pages[0]
                    heights = page.asarray()
                    tags = {k: page.tags[k].value for k in ('XResolution', 'YResolution', 'ResolutionUnit')}
                self.assertEqual(heights.dtype, np.float32)
                np.testing.assert_array_equal(heights, data.metres().astype(np.float32))
                self.assertEqual(tags['ResolutionUnit'], 3)  # centimetre
                for key in ('XResolution', 'YResolution'):
                    numerator, denominator = tags[key]
                    self.assertAlmostEqual(numerator / denominator * data.spacing, 0.01, delta=1e-9)

    def test_text_forms_hold_every_valid_point(self):
        for name in SAMPLES:
            for extension, delimiter in [('.xyz', None), ('.csv', ',')]:
                with self.subTest(name + extension):
                    out, data = self.exported(name, extension)
                    with open(out) as f:
                        first = f.readline()
                    if delimiter:
                        self.assertEqual(first, 'x_m,y_m,z_m\n')
                    points = np.loadtxt(out, delimiter=delimiter, skiprows=1 if delimiter else 0, ndmin=2)
                    np.testing.assert_array_equal(points, data.points())

    def test_nanometres_agree_with_spinmap_info(self):
        for name in SAMPLES:
            with self.subTest(name):
                out, data = self.exported(name, '.xyz')
                z = np.loadtxt(out, ndmin=2)[:, 2]
                report = run(INFO, self.files[name][0]).stdout
                for key, value in [('Minimum', z.min()), ('Maximum', z.max())]:
                    shown = re.search(r'^Height %s +=.*\((\S+) nm\)$' % key, report, re.M).group(1)
                    self.assertEqual('%g' % (value * 1e9), shown)

    def test_refusals_leave_no_file(self):
        folder = self.folder.name
        cap = self.files['cap'][0]
        with open(cap, 'rb') as f:
            header = bytearray(f.read())
        header[184:188] = bytes(4)  # CameraRes 0
        made = {'nores.dat': bytes(header), 'text.dat': b'not a data file\n', 'existing.csv': b'kept\n',
                'same.x3p': bytes(header)}
        for file_name, content in made.items():
            with open(os.path.join(folder, file_name), 'wb') as f:
                f.write(content)
        none = os.path.join(folder, 'none.dat')
        subprocess.run([SAMPLE, '-Camera', '20x10', '-Aperture', 'none', none], check=True)

        def p(file_name):
            return os.path.join(folder, file_name)
        cases = [
            ([cap, p('out.png')], None, 'Output file name "%s" does not end in .x3p, .tif, .tiff, .xyz or .csv'
             % p('out.png')),
            ([p('missing.dat'), p('out.x3p')], None, 'Cannot access input data file "%s"' % p('missing.dat')),
            ([p('text.dat'), p('out.tif')], None,
             'Error reading input data file "%s": ERR_NOT_A_DATA_FILE' % p('text.dat')),
            ([none, p('out.x3p')], None, 'Input data file "%s" contains no valid height points' % none),
            ([p('nores.dat'), p('out.xyz')], None, 'Input data file "%s" has no lateral resolution '
             '(CameraRes is 0), so its pixel spacing is unknown' % p('nores.dat')),
            ([cap, p('existing.csv')], None,
             'Output file "%s" exists; the Overwrite option replaces it' % p('existing.csv')),
            (['-Overwrite', p('same.x3p'), p('same.x3p')], None,
             'Output file "%s" is the input data file' % p('same.x3p')),
            ([cap, p('out.x3p')], 4096, 'Error writing output file "%s": ERR_CANT_WRITE_FILE' % p('out.x3p')),
            ([cap, p('out.tif')], 4096, 'Error writing output file "%s": ERR_CANT_WRITE_FILE' % p('out.tif')),
        ]
        def snapshot():
            files = {}
            for n in sorted(os.listdir(folder)):
                with open(p(n), 'rb') as f:
                    files[n] = f.read()
            return files
        before = snapshot()
        for args, limit, message in cases:
            with self.subTest(message):
                r = run(EXPORT, *args, limit_bytes=limit)
                self.assertEqual((r.returncode, r.stdout, r.stderr), (1, '', 'Spinmap Export\nERROR: %s\n' % message))
                self.assertEqual(snapshot(), before)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
