"""The Debian package: made by scripts/package.sh, checked with the validators, unpacked
into a temporary root (never installed on the machine) and run from there."""

import glob
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import BUILD_DIR, SOURCE_DIR, Host, init_args
from pulse_server import PulseServer

# A Release build of its own, kept between runs so that only changes rebuild.
PACKAGE_DIR = os.environ.get("QUILLON_PACKAGE_DIR", os.path.join(BUILD_DIR, "package"))


def run(argv, timeout=600, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kwargs)


class VersionTest(unittest.TestCase):
    def test_commit_and_dirty_mark_unless_clean_at_the_release_tag(self):
        repo = self.enterContext(tempfile.TemporaryDirectory(prefix="quillon-version-"))
        os.makedirs(os.path.join(repo, "scripts"))
        for name in ("CMakeLists.txt", "scripts/package-version.sh"):
            shutil.copy(os.path.join(SOURCE_DIR, name), os.path.join(repo, name))
        git = ["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@example.org"]
        for args in (["init", "-q"], ["add", "."], ["commit", "-qm", "one"]):
            subprocess.run(git + args, check=True, capture_output=True)
        commit = run(git + ["rev-parse", "--short=7", "HEAD"]).stdout.strip()

        def version():
            return run(["bash", os.path.join(repo, "scripts/package-version.sh")]).stdout.strip()
        # The project's version itself is the unpacked program's (PackageTest).
        base = version().split("+")[0]
        self.assertEqual(version(), "%s+git%s" % (base, commit))
        subprocess.run(git + ["tag", "v" + base], check=True)
        self.assertEqual(version(), base)
        open(os.path.join(repo, "untracked"), "w").close()
        self.assertEqual(version(), "%s+git%s+dirty" % (base, commit))


@unittest.skipIf(os.environ.get("QUILLON_SANITIZE", "OFF") not in ("", "OFF"),
                 "the package is a Release build of its own")
class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        made = run(["bash", os.path.join(SOURCE_DIR, "scripts/package.sh")],
                   env=dict(os.environ, QUILLON_PACKAGE_DIR=PACKAGE_DIR), timeout=3600)
        if made.returncode != 0:
            raise RuntimeError("scripts/package.sh failed:\n" + made.stdout[-3000:] + made.stderr[-3000:])
        cls.deb = made.stdout.strip().splitlines()[-1]
        cls.root = tempfile.mkdtemp(prefix="quillon-deb-")
        cls.addClassCleanup(shutil.rmtree, cls.root, ignore_errors=True)
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)
        cls.libdir = os.path.dirname(glob.glob(os.path.join(cls.root, "usr/lib/*/libquillon_host.so.0"))[0])

    def path(self, relative):
        return os.path.join(self.root, "usr", relative)

    def test_lintian_and_validators_pass_and_the_contents_fit_together(self):
        done = run(["lintian", "--no-tag-display-limit", self.deb])
        # lintian fails on errors; the warnings left are each explained.
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(os.path.join(SOURCE_DIR, "docs/packaging.md"), encoding="utf-8") as f:
            explained = f.read()
        warnings = re.findall(r"^W: quillon-host[^:]*: (\S+)", done.stdout, re.M)
        self.assertEqual([t for t in warnings if "`%s`" % t not in explained], [], done.stdout)

        # The programs are run from the unpacked tree below.
        for name in ("include/quillon-host/ffi_surface.h", "share/quillon-host/VerdalisRecorder.pa",
                     "share/quillon-host/VerdalisRecorder.conf", "share/doc/quillon-host/copyright"):
            self.assertTrue(os.path.isfile(self.path(name)), name)
        # The engine opens the library by its plain name; the programs by the soname.
        self.assertEqual(os.path.realpath(os.path.join(self.libdir, "libquillon_host.so")),
                         os.path.realpath(os.path.join(self.libdir, "libquillon_host.so.0")))
        # Installing a missing loopback device needs pkexec.
        self.assertIn("pkexec | policykit-1", run(["dpkg-deb", "-f", self.deb, "Depends"]).stdout)

        entry = self.path("share/applications/org.quillon.Host.desktop")
        metainfo = self.path("share/metainfo/org.quillon.Host.metainfo.xml")
        for argv in (["desktop-file-validate", entry], ["appstreamcli", "validate", "--no-net", metainfo],
                     ["xmllint", "--noout", "--dtdvalid", "/usr/share/polkit-1/policyconfig-1.dtd",
                      self.path("share/polkit-1/actions/org.quillon.Host.policy")]):
            done = run(argv)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # The launcher entry names a program and icons that are in the package.
        with open(entry, encoding="utf-8") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertTrue(os.access(self.path("bin/" + fields["Exec"].split()[0]), os.X_OK))
        for icon in ("256x256/apps/%s.png", "scalable/apps/%s.svg"):
            self.assertTrue(os.path.isfile(self.path("share/icons/hicolor/" + icon % fields["Icon"])), icon)
        with open(metainfo, encoding="utf-8") as f:
            self.assertIn('<launchable type="desktop-id">%s</launchable>' % os.path.basename(entry), f.read())
        for page in ("quillon-host.1.gz", "quillon-engine.1.gz"):
            done = run(["man", "--warnings", "-l", "-Tutf8", self.path("share/man/man1/" + page)],
                       env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
            self.assertEqual((done.returncode, done.stderr), (0, ""), page)

    def test_unpacked_programs_start_initialise_and_record(self):
        host_program, engine = self.path("bin/quillon-host"), self.path("bin/quillon-engine")
        pulse = self.enterContext(PulseServer())
        os.makedirs(os.path.join(pulse.dir, "home"))
        env = dict(pulse.env(), HOME=os.path.join(pulse.dir, "home"), LD_LIBRARY_PATH=self.libdir)

        version = run([host_program, "--version"], env=env)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertTrue(run(["dpkg-deb", "-f", self.deb, "Version"]).stdout.startswith(version.stdout.strip()))
        # The record command's drop-in is the unpacked tree's, not the source tree's.
        usage = run([engine, "record", "--help"], env=env).stdout
        self.assertIn(self.path("share/quillon-host/VerdalisRecorder.pa"), usage)

        folder = os.path.join(pulse.dir, "rec")
        with Host(env=env, host=host_program, engine=engine) as host:
            code, out, err = host.call("native_application_factory", "init", init_args(host.log_dir))
            self.assertEqual(code, 0, out + err)
            recorded = run([engine, "--socket", host.socket, "record", "--seconds", "2", "--no-mic",
                            "--dir", folder], env=env)
        self.assertEqual(recorded.returncode, 0, recorded.stdout + recorded.stderr)
        summary = json.loads(re.search(r"^stopRecorder: (\{.*\})$", recorded.stdout, re.M)[1])
        self.assertEqual(summary["success"], 0)
        self.assertGreater(os.path.getsize(os.path.join(folder, "recording.wav")), 44)
        self.assertGreater(os.path.getsize(os.path.join(folder, "recording.opus")), 0)


if __name__ == "__main__":
    unittest.main()
