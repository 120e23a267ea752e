"""Both programs against https services they must not trust: one whose
certificate comes from an authority nobody named, one whose certificate is
for another host.  Neither may hear the password or the OAuth secrets; the
failure carries WinHTTP's "secure failure" number.  Only the settings file
beside the programs can switch the check off.  Natively only: Wine's
WinHTTP checks no certificate (the HTTP client's own tests check there that
nothing asks it to overlook one)."""

import contextlib
import os
import shutil
import tempfile
import unittest

import inkseal_e2e as e2e
import uploader_runner as runner
from login_dialog import PASSWORD, LoginDialog, StandInService

SECURE_FAILURE = 12175
ADA = {"OAuthClientKey": "ck-ada", "OAuthClientSecret": "cs-ada",
       "OAuthTokenKey": "tk-ada", "OAuthTokenSecret": "ts-ada"}
RUN_TIMEOUT = 90


@unittest.skipUnless(e2e.NATIVE, "Wine's WinHTTP accepts every certificate")
class UntrustedServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.untrusted = StandInService()
        cls.stack.callback(cls.untrusted.stop)
        cls.elsewhere = StandInService(certificate_names="DNS:elsewhere.invalid")
        cls.stack.callback(cls.elsewhere.stop)
        # Each case: the service, and what the settings file beside the
        # programs says (the wrong-name service's authority is trusted).
        cls.cases = [("unknown authority", cls.untrusted, {}),
                     ("wrong host name", cls.elsewhere, cls.elsewhere.trust_settings())]

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def assert_secure_failure(self, text):
        self.assertTrue(text.startswith(f"\nError code: {SECURE_FAILURE}\n"), text)

    def test_ferrowend_sends_nothing_and_reports_the_secure_failure(self):
        for name, service, trust in self.cases:
            with self.subTest(name):
                service.reset()
                install = runner.Installation(None)
                self.addCleanup(install.remove)
                install.module_settings(LumeskURL=service.url + "/upload", **trust, **ADA)
                # A user cannot switch the check off for themselves.
                install.user_settings(DisableCertificateVerification="1")
                document = install.write_document("spool", "Contract.pdf", b"%PDF-1.4\n%%EOF\n")
                outcome = install.run(document)
                self.assertEqual(outcome.exit_code, 1, outcome)
                self.assertEqual([kind for kind, _ in outcome.messages], ["error"], outcome)
                self.assert_secure_failure(outcome.messages[0][1])
                self.assertEqual(service.requests(), [], "not one request may reach the service")

                # The administrator's last resort, beside the program, can.
                install.module_settings(LumeskURL=service.url + "/upload", DisableCertificateVerification="1", **ADA)
                self.assertEqual(install.run(document).exit_code, 0)
                self.assertEqual([r["method"] for r in service.requests()], ["PUT"])

    def test_brantwick_sends_no_password_and_stores_nothing(self):
        for name, service, trust in self.cases:
            with self.subTest(name), contextlib.ExitStack() as stack:
                service.reset()
                install = tempfile.mkdtemp(prefix="inkseal-brantwick-")
                stack.callback(shutil.rmtree, install, True)
                program = shutil.copy2(e2e.program_path("Brantwick"), install)
                with open(os.path.join(install, "vod995.ini"), "w", newline="\r\n") as f:
                    f.write("[Parameters]\n" + "".join(f"{k}={v}\n" for k, v in trust.items()))
                env, lumesk = stack.enter_context(e2e.user_folder())
                env["INKSEAL_SERVICE_HOST"] = service.host
                running = stack.enter_context(e2e.start(program, env=env, timeout=RUN_TIMEOUT))
                dialog = LoginDialog(running)
                dialog.wait_shown()
                dialog.fill_credentials("ada@inkseal.test", "analytical engine")
                dialog.enter_in(PASSWORD)
                icon, text = dialog.read_message()
                self.assertEqual(icon, "error")
                self.assert_secure_failure(text)
                dialog.escape()
                self.assertEqual(running.finish().exit_code, 2)
                self.assertEqual(service.requests(), [], "not one request may reach the service")
                self.assertFalse(os.path.exists(os.path.join(lumesk, "vod995.ini")))


if __name__ == "__main__":
    unittest.main()
