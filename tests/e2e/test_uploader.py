#!/usr/bin/env python3
"""Ferrowend end to end: each case installs a copy of the program in a folder
of its own, prints a document through it to the stand-in signature service,
and checks every message it showed, its exit code, the address handed to the
browser and the exact request the service received."""

import base64
import concurrent.futures
import errno
import os
import re
import shutil
import struct
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import uploader_runner as runner  # noqa: E402

ADA = {"OAuthClientKey": "ck-ada", "OAuthClientSecret": "cs-ada",
       "OAuthTokenKey": "tk-ada", "OAuthTokenSecret": "ts-ada"}
GRACE = {"OAuthClientKey": "ck-grace", "OAuthClientSecret": "cs-grace",
         "OAuthTokenKey": "tk-grace", "OAuthTokenSecret": "ts-grace"}
ADA_AUTHORIZATION = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-ada",'
                     'oauth_token="tk-ada",oauth_signature="cs-ada&ts-ada"')
GRACE_AUTHORIZATION = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-grace",'
                       'oauth_token="tk-grace",oauth_signature="cs-grace&ts-grace"')
# What the boxes show of them: the two secrets masked, everything else kept.
ADA_AUTHORIZATION_SHOWN = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-ada",'
                           'oauth_token="tk-ada",oauth_signature="***"')
EMPTY_AUTHORIZATION_SHOWN = ('OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="",'
                             'oauth_token="",oauth_signature="***"')
CANNOT_CONNECT = 12029  # the HTTP library's "cannot connect" on both platforms
INVALID_PARAMETER = runner.e2e.error_number("invalid_parameter")  # an address that is not a web page

PDF_BYTES = (b"%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n"
             b"binary \x00\x01\x02\xff\xfe\r\n\x1a end\n%%EOF\n")


def configuration_report(settings_path, url, authorization, document, ask_for_credentials):
    text = ("Please report to sysadmin the following: \nVerify your configuration.\n"
            f"\nConfiguration file: {settings_path}\nPrinterURL: {url}"
            f"\nOAuth: {authorization}\nDocument: {document}")
    return text + ("\n\nPlease obtain valid Tessavo credentials." if ask_for_credentials else "")


class UploaderTest(unittest.TestCase):
    service = None

    @classmethod
    def setUpClass(cls):
        cls.service = runner.StandInService()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def setUp(self):
        self.service.reset()
        self.install = runner.Installation(self.service)
        self.addCleanup(self.install.remove)
        self.upload_url = self.service.url + "/upload"

    # --- helpers -----------------------------------------------------------

    def document(self, name="Contract.pdf", content=PDF_BYTES, folder="spool"):
        return self.install.write_document(folder, name, content)

    def uploads(self):
        return [r for r in self.service.requests() if r["method"] == "PUT"]

    def assert_uploaded(self, outcome, content, authorization=ADA_AUTHORIZATION):
        """One PUT carried the document and the page the service named was opened."""
        self.assertEqual(outcome.messages, [])
        self.assertEqual(outcome.exit_code, 0)
        uploads = self.uploads()
        self.assertEqual(len(uploads), 1)
        upload = uploads[0]
        self.assertEqual(upload["request_line"], "PUT /upload HTTP/1.1")
        self.assertEqual(runner.header(upload, "Authorization"), authorization)
        self.assertEqual(base64.b64decode(upload["body_base64"]), content)
        self.assertRegex(outcome.browser, r"^https://127\.0\.0\.1:\d+/documents/\d+$")
        self.assertEqual(outcome.browsed, [outcome.browser])
        return upload

    def assert_messages(self, outcome, expected):
        """expected: [(kind, full-match pattern)] in the order shown."""
        self.assertEqual([kind for kind, _ in outcome.messages], [kind for kind, _ in expected],
                         outcome)
        for (_, text), (_, pattern) in zip(outcome.messages, expected):
            self.assertRegex(text, "^" + pattern + r"\Z")

    def assert_not_opened(self, outcome, shown_path, code):
        self.assert_messages(outcome, [("error", runner.error_code_text(
            code, f"Failed to open document\n{shown_path}"))])
        self.assertEqual(outcome.exit_code, 0)
        self.assertEqual(self.uploads(), [])

    # --- the normal road ---------------------------------------------------

    def test_upload_sends_the_exact_request_and_opens_the_named_page(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.user_settings(**ADA)
        path = self.document()
        outcome = self.install.run(path)
        upload = self.assert_uploaded(outcome, PDF_BYTES)
        # The four header lines arrive in order, each once, and the empty
        # lines of the header text never end the head early.
        names = [n.lower() for n, _ in upload["headers"]]
        wanted = ["content-length", "content-type", "connection", "authorization"]
        self.assertEqual([n for n in names if n in wanted], wanted)
        self.assertEqual(runner.header(upload, "Content-Length"), str(len(PDF_BYTES)))
        self.assertEqual(runner.header(upload, "Content-Type"), "application/pdf")
        self.assertEqual(runner.header(upload, "Connection").lower(), "keep-alive")
        self.assertEqual(runner.header(upload, "User-Agent"), "WinHttpClient 1.0.9.9")
        self.assertIn("\r\nAuthorization: " + ADA_AUTHORIZATION + "\r\n", upload["raw_head"])
        # The page names a document of the right size.
        page = self.service.fetch(outcome.browser)
        self.assertIn(f"Size: {len(PDF_BYTES)} bytes", page)

    def test_quoted_path_with_blanks_is_opened_without_its_quotes(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.user_settings(**ADA)
        path = self.document("My Contract.pdf", folder="print jobs")
        self.assert_uploaded(self.install.run(f'"{path}"'), PDF_BYTES)

    def test_unquoted_path_with_blanks_arrives_whole(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.user_settings(**ADA)
        path = self.document("My  Contract.pdf", folder="print jobs")
        self.assert_uploaded(self.install.run(path), PDF_BYTES)

    def test_zero_byte_document_announces_length_zero_and_sends_no_body(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.user_settings(**ADA)
        upload = self.assert_uploaded(self.install.run(self.document(content=b"")), b"")
        self.assertEqual(runner.header(upload, "Content-Length"), "0")

    def test_launch_value_stands_in_for_an_empty_command_line(self):
        path = self.document("Launched doc.pdf")
        self.install.module_settings(LumeskURL=self.upload_url, Launch=f'"{path}"', **ADA)
        self.assert_uploaded(self.install.run(""), PDF_BYTES)

    def test_long_program_name_does_not_leak_into_the_settings_path(self):
        self.install.rename_program("Ferrowend-" + "x" * 120)
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.assert_uploaded(self.install.run(self.document()), PDF_BYTES)

    # --- where the credentials come from -----------------------------------

    def test_credentials_beside_the_program_mean_the_user_file_is_never_read(self):
        # Reading the user's file would replace all four values with Grace's,
        # which the service also accepts: only Ada's may arrive.  And no
        # authenticator is installed, so starting one would fail loudly.
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.install.user_settings(**GRACE)
        self.assert_uploaded(self.install.run(self.document()), PDF_BYTES, ADA_AUTHORIZATION)

    def test_user_file_replaces_every_value_when_one_is_missing_beside_the_program(self):
        partial = dict(ADA)
        del partial["OAuthTokenSecret"]
        self.install.module_settings(LumeskURL=self.upload_url, **partial)
        self.install.user_settings(**GRACE)
        self.assert_uploaded(self.install.run(self.document()), PDF_BYTES, GRACE_AUTHORIZATION)

    def test_authenticator_that_stores_credentials_lets_the_upload_go_on(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=1, credentials=ADA)
        self.assert_uploaded(self.install.run(self.document()), PDF_BYTES)
        self.assertEqual(self.install.authenticator_starts(), 1)

    def test_two_prints_at_once_share_one_login(self):
        # The second print finds the first one's authenticator running,
        # waits for it and uses what it stored.
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=1, credentials=ADA, delay_ms=3000)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            first = pool.submit(self.install.run, self.document())
            time.sleep(0.5)
            second = pool.submit(self.install.run, self.document())
            outcomes = [first.result(), second.result()]
        self.assertEqual(self.install.authenticator_starts(), 1)
        for outcome in outcomes:
            self.assertEqual((outcome.exit_code, outcome.messages), (0, []), outcome)
        self.assertEqual([runner.header(upload, "Authorization") for upload in self.uploads()],
                         [ADA_AUTHORIZATION] * 2)

    def test_values_still_missing_after_the_authenticator_leave_empty_slots(self):
        # The service refuses the incomplete signature with 401; the run goes
        # on to the browser step with the sign-in page the reply names.
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=1, credentials={
            "OAuthClientKey": "ck-ada", "OAuthTokenKey": "tk-ada"})
        outcome = self.install.run(self.document())
        self.assertEqual(outcome.messages, [])
        self.assertEqual(outcome.exit_code, 0)
        upload, = self.uploads()
        self.assertEqual(runner.header(upload, "Authorization"),
                         'OAuth oauth_signature_method="PLAINTEXT",oauth_consumer_key="ck-ada",'
                         'oauth_token="tk-ada",oauth_signature="&"')
        self.assertEqual(outcome.browsed, [self.service.base_url + "/signin"])

    # --- the failure table -------------------------------------------------

    def test_authenticator_cancelled_gives_the_report_asking_for_credentials(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=2)
        path = self.document("a b.pdf")
        outcome = self.install.run(f'"{path}"')
        self.assert_messages(outcome, [("information", runner.exactly(configuration_report(
            self.install.user_settings_path(), self.upload_url, EMPTY_AUTHORIZATION_SHOWN,
            f'"{path}"', ask_for_credentials=True)))])
        self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(self.install.authenticator_starts(), 1)
        self.assertEqual(self.uploads(), [])

    def test_authenticator_exit_code_minus_one_counts_as_not_stored(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=-1, credentials=ADA)
        outcome = self.install.run(self.document())
        self.assertEqual(len(outcome.messages), 1)
        self.assertTrue(outcome.messages[0][1].endswith("Please obtain valid Tessavo credentials."))
        self.assertEqual(outcome.exit_code, 1)

    @unittest.skipUnless(runner.NATIVE, "standard error is the agent's log, on Linux")
    def test_how_the_authenticator_ended_goes_to_standard_error_and_the_box_stays(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        for exit_code, signal, line in ((1, None, "ended with exit code 1"), (2, None, "ended with exit code 2"),
                                        (1, 9, "was ended by signal 9")):
            with self.subTest(line=line):
                self.install.fake_authenticator(exit_code=exit_code, credentials=ADA if exit_code == 1 else None)
                if signal:
                    self.install.fake_environment["INKSEAL_FAKE_SIGNAL"] = str(signal)
                shutil.rmtree(self.install.lumesk_folder, ignore_errors=True)
                outcome = self.install.run(self.document())
                self.assertIn(f"Ferrowend: Brantwick {line}\n", outcome.output)
                boxes = [text for _, text in outcome.messages]
                if line.endswith("code 1"):
                    self.assertEqual((outcome.exit_code, boxes), (0, []), outcome)
                else:
                    self.assertEqual(len(boxes), 1, outcome)
                    self.assertTrue(boxes[0].endswith("\n\nPlease obtain valid Tessavo credentials."), outcome)

    def test_missing_authenticator_cannot_be_started(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        outcome = self.install.run(self.document())
        self.assert_messages(outcome, [("error", runner.last_error_text(
            "Failed to start:\nBrantwick.exe", runner.FILE_NOT_FOUND))])
        self.assertEqual(outcome.exit_code, 0)

    def test_empty_command_line_without_launch(self):
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        outcome = self.install.run("")
        self.assert_messages(outcome, [("information", runner.exactly("Please select a file to upload."))])
        self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(self.service.requests(), [])

    def test_empty_command_line_still_runs_the_authenticator_first(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        self.install.fake_authenticator(exit_code=1, credentials=ADA)
        outcome = self.install.run("")
        self.assert_messages(outcome, [("information", runner.exactly("Please select a file to upload."))])
        self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(self.install.authenticator_starts(), 1)

    def test_missing_or_empty_upload_address_gives_the_short_report(self):
        for settings in ({}, {"LumeskURL": ""}):
            with self.subTest(settings=settings):
                self.install.module_settings(**settings, **ADA)
                path = self.document()
                outcome = self.install.run(f'"{path}"')
                self.assert_messages(outcome, [("information", runner.exactly(configuration_report(
                    self.install.module_settings_path(), "", ADA_AUTHORIZATION_SHOWN, f'"{path}"',
                    ask_for_credentials=False)))])
                self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(self.service.requests(), [])

    def test_missing_document(self):
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.document()  # the folder exists, the file does not
        path = self.install.shown("spool", "gone.pdf")
        self.assert_not_opened(self.install.run(f'"{path}"'), path, runner.FILE_NOT_FOUND)

    def test_quote_followed_by_a_blank_stays_in_the_path(self):
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        path = self.document()
        outcome = self.install.run(f'"{path}" ')
        self.assert_not_opened(outcome, f'{path}" ', runner.BAD_NAME_WITH_QUOTE)

    def test_document_of_two_gibibytes_is_refused_not_sent_with_a_wrapped_length(self):
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        path = self.document("huge.pdf", content=b"%PDF-1.4\n")
        os.truncate(self.install.path("spool", "huge.pdf"), 2 ** 31)  # sparse: no disk space used
        self.assert_not_opened(self.install.run(path), path, runner.FILE_TOO_LARGE)

    @unittest.skipUnless(runner.NATIVE, "needs a file that opens but cannot be read")
    def test_document_that_opens_but_cannot_be_read_is_refused_not_sent_empty(self):
        # The program's own memory image opens as a regular file, and reading
        # it from its start fails (nothing is mapped at address 0).
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.assert_not_opened(self.install.run("/proc/self/mem"), "/proc/self/mem", errno.EIO)

    def test_folder_as_document_is_refused(self):
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.document()
        path = self.install.shown("spool")
        outcome = self.install.run(path)
        self.assertEqual(len(outcome.messages), 1)
        self.assertRegex(outcome.messages[0][1], r"\nFailed to open document\n" + re.escape(path) + r"\Z")
        self.assertEqual(outcome.exit_code, 0)
        self.assertEqual(self.uploads(), [])

    def test_unreachable_service(self):
        url = f"https://127.0.0.1:{runner.closed_port()}/upload"
        self.install.module_settings(LumeskURL=url, **ADA)
        path = self.document()
        outcome = self.install.run(f'"{path}"')
        self.assert_messages(outcome, [("error", runner.http_error_code_text(
            CANNOT_CONNECT,
            "Please report to sysadmin the following: Failed to print the document."
            f"\nDocument: {path}\nPrinterURL: {url}\nOAuth: {ADA_AUTHORIZATION_SHOWN}"))])
        self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(outcome.browsed, [])

    def test_only_web_pages_are_handed_to_the_shell(self):
        # The reply names the page, so anyone on the network path can: a
        # program, a share or a file must never reach the shell.
        marker = self.install.path("ran")
        with open(self.install.path("evil.bat"), "w") as f:
            f.write(f"#!/bin/sh\ntouch '{marker}'\n" if runner.NATIVE else
                    f"echo ran > {runner.shown_path(marker)}\r\n")
        os.chmod(self.install.path("evil.bat"), 0o755)
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        # A value must start with a letter or digit to be read from the
        # reply at all: a UNC name arrives as an empty address.
        for sent, shown in ((self.install.shown("evil.bat") if not runner.NATIVE else "evil.bat",) * 2,
                            ("file:///etc/shadow",) * 2, (r"\\127.0.0.1\share\evil.bat", ""),
                            ("inkseal-no-such-scheme:page/1",) * 2, ("https:///evil.bat",) * 2,
                            ('https://h/" --x',) * 2):
            with self.subTest(address=sent):
                self.service.queue_reply("/upload", 201, [["X-Open-Browser", sent]])
                outcome = self.install.run(self.document(), cwd=self.install.root)
                self.assert_messages(outcome, [("error", runner.error_code_text(
                    INVALID_PARAMETER, "Could not open the default web browser with URL:\n" + shown))])
                self.assertEqual((outcome.exit_code, outcome.browsed), (1, []))
        self.assertFalse(os.path.exists(marker))

    def test_the_browser_gets_printable_ascii_only(self):
        # An international host arrives as its xn-- form, other characters
        # percent-encoded; blanks and lookalikes of any kind are refused.
        self.install.module_settings(LumeskURL=self.upload_url, **ADA)
        self.service.queue_reply("/upload", 201, [["X-Open-Browser", "https://b\u00fcro.example/d/\u00e9"]])
        outcome = self.install.run(self.document())
        self.assertEqual((outcome.exit_code, outcome.browsed), (0, ["https://xn--bro-hoa.example/d/%C3%A9"]))
        # (A header carries Latin-1 only; the other characters are the unit
        # tests'.)
        for sent in ("https://h/a\u00a0b", "https://h\u00a0/"):
            with self.subTest(address=sent):
                self.service.queue_reply("/upload", 201, [["X-Open-Browser", sent]])
                outcome = self.install.run(self.document())
                self.assert_messages(outcome, [("error", runner.error_code_text(
                    INVALID_PARAMETER, "Could not open the default web browser with URL:\n" + re.escape(sent)))])
                self.assertEqual((outcome.exit_code, outcome.browsed), (1, []))

    def test_plain_http_to_another_machine_sends_no_credentials(self):
        # PLAINTEXT signatures are the secrets themselves; over plain http
        # only this machine may receive them.
        url = "http://sign.example.invalid/upload"
        self.install.module_settings(LumeskURL=url, **ADA)
        path = self.document()
        outcome = self.install.run(f'"{path}"')
        self.assert_messages(outcome, [("information", runner.exactly(configuration_report(
            self.install.module_settings_path(), url, ADA_AUTHORIZATION_SHOWN, f'"{path}"',
            ask_for_credentials=False) + "\n\nNothing was sent: the PrinterURL uses plain http, which would carry "
            "your credentials unencrypted. It must start with https://."))])
        self.assertEqual(outcome.exit_code, 1)
        self.assertEqual(self.service.requests(), [])

    def test_reply_without_a_browser_address_is_refused_as_an_empty_one(self):
        # The service answers an unknown address with 404 and no X-Open-Browser.
        self.install.module_settings(LumeskURL=self.service.url + "/nowhere", **ADA)
        outcome = self.install.run(self.document())
        self.assertEqual(len(self.service.requests()), 1)
        self.assertEqual(outcome.browsed, [])
        self.assert_messages(outcome, [("error", runner.error_code_text(
            INVALID_PARAMETER, "Could not open the default web browser with URL:\n"))])
        self.assertEqual(outcome.exit_code, 1)

    @unittest.skipUnless(runner.NATIVE, "the folder query cannot be made to fail under Wine")
    def test_failed_user_folder_query_falls_back_to_the_current_folder(self):
        self.install.module_settings(LumeskURL=self.upload_url)
        blocker = self.install.path("not-a-folder")
        with open(blocker, "w"):
            pass
        work = self.install.path("work")
        os.makedirs(work)
        runner.write_ini(os.path.join(work, "vod995.ini"), ADA)
        outcome = self.install.run(self.document(), config_home=os.path.join(blocker, "config"),
                                   cwd=work)
        self.assert_messages(outcome, [("error", runner.last_error_text(
            "Failed to obtain user profile path!", errno.ENOTDIR))])
        self.assertEqual(outcome.exit_code, 0)
        self.assertEqual(runner.header(self.uploads()[0], "Authorization"), ADA_AUTHORIZATION)


@unittest.skipIf(runner.NATIVE, "a property of the Windows executable")
class ExecutableTest(unittest.TestCase):
    def setUp(self):
        with open(runner.e2e.program_path("Ferrowend"), "rb") as f:
            self.image = f.read()

    def test_windowed_program_without_a_console(self):
        pe = struct.unpack_from("<I", self.image, 0x3C)[0]
        self.assertEqual(self.image[pe:pe + 4], b"PE\0\0")
        subsystem = struct.unpack_from("<H", self.image, pe + 24 + 68)[0]
        self.assertEqual(subsystem, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI

    def test_version_resource_reads_1_0_9_9(self):
        fixed = self.image.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO signature
        self.assertGreater(fixed, 0)
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", self.image, fixed + 8)
        self.assertEqual((file_ms, file_ls), ((1 << 16) | 0, (9 << 16) | 9))
        self.assertEqual((product_ms, product_ls), ((1 << 16) | 0, (9 << 16) | 9))
        self.assertRegex(self.image, re.escape("FileVersion".encode("utf-16-le")) + b"(?:\0\0){1,3}" +
                         re.escape("1.0.9.9".encode("utf-16-le")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
