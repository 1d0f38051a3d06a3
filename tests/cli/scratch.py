"""A test case with a scratch directory of its own, shared by the command-line suites."""
import os
import tempfile
import unittest


class ScratchCase(unittest.TestCase):
    PREFIX = "tarn-test-"

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix=self.PREFIX)
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()
