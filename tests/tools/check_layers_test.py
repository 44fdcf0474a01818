#!/usr/bin/env python3
"""tools/check-layers on small trees: what passes, and each fault it must name."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "check-layers")

LAYERS = """\
# lowest first
platform: platform
core:     serial link          | uses: platform
widgets:  widgets
windows:  app serial/dialog    | uses: core widgets
cli:      cli                  | uses: core
"""


class CheckLayersTest(unittest.TestCase):
    def run_on(self, files, layers=LAYERS):
        with tempfile.TemporaryDirectory() as root:
            for name, text in {"src/layers.txt": layers, **files}.items():
                path = os.path.join(root, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            result = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
            return result.returncode, result.stderr

    # Downward includes, a subfolder in a higher layer than its parent, a
    # relative include and headers outside src/ are all allowed.
    def test_includes_that_point_down_pass(self):
        code, out = self.run_on(
            {
                "src/platform/Wake.h": "",
                "src/serial/Port.h": '#include "platform/Wake.h"\n',
                "src/serial/Port.cpp": '#include "Port.h"\n#include <QString>\n#include "ui_generated.h"\n',
                "src/link/Link.h": '#include "serial/Port.h"\n',
                "src/widgets/Scale.h": "",
                "src/serial/dialog/Dialog.cpp": '#include "widgets/Scale.h"\n#include "serial/Port.h"\n',
                "src/app/Main.cpp": '#include "serial/dialog/Dialog.cpp"\n#include "platform/Wake.h"\n',
                "src/cli/Send.cpp": '#include "link/Link.h"\n',
            }
        )
        self.assertEqual((code, out), (0, ""))

    def test_upward_and_sideways_includes_are_named_with_file_and_line(self):
        code, out = self.run_on(
            {
                "src/widgets/Scale.h": "",
                "src/serial/dialog/Dialog.h": "",
                "src/serial/Port.cpp": '// port\n#include "serial/dialog/Dialog.h"\n',
                "src/cli/Send.cpp": '#include "widgets/Scale.h"\n',
                "src/link/Link.h": '#include "../widgets/Scale.h"\n',
            }
        )
        self.assertEqual(code, 1)
        self.assertIn("src/serial/Port.cpp:2: includes serial/dialog/Dialog.h", out)
        self.assertIn("src/cli/Send.cpp:1: includes widgets/Scale.h", out)
        self.assertIn("src/link/Link.h:1: includes widgets/Scale.h", out)

    def test_a_circle_within_one_layer_fails(self):
        code, out = self.run_on(
            {
                "src/serial/Port.h": '#include "link/Link.h"\n',
                "src/link/Link.h": '#include "serial/Port.h"\n',
            }
        )
        self.assertEqual(code, 1)
        self.assertIn("circle", out)
        self.assertIn("serial -> link (src/serial/Port.h:1)", out)

    def test_folders_and_layers_must_be_placed(self):
        code, out = self.run_on({"src/extra/Thing.cpp": "", "src/serial/Port.h": ""})
        self.assertEqual(code, 1)
        self.assertIn("src/extra/Thing.cpp: its folder is in no layer", out)
        code, out = self.run_on({}, layers="core: serial | uses: widgets\nwidgets: widgets\n")
        self.assertEqual(code, 1)
        self.assertIn("core uses widgets, which is not a layer listed above it", out)


if __name__ == "__main__":
    unittest.main()
