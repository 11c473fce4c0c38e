#!/usr/bin/env python3
"""Opens the operator's dashboard in headless Chromium, enters the admin token and checks that
a player who is in the world appears in the player list and on the live map view. Keeps a
screenshot. Exit status 0 when every check passed, 1 otherwise, 77 when Chromium, its driver or
Selenium is missing."""
import argparse
import os
import shutil
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(77)

# The colour the dashboard draws characters in (#ff4f6d).
CHARA_RGB = (255, 79, 109)


def find_binary(*names):
    for name in names:
        path = shutil.which(name) or (name if os.path.exists(name) else None)
        if path:
            return path
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--url", required=True)
    ap.add_argument("--token", required=True)
    ap.add_argument("--player", required=True, help="a character that is in the world")
    ap.add_argument("--screenshot", required=True)
    ap.add_argument("--settle", type=float, default=0, help="seconds to wait before the screenshot")
    ap.add_argument("--window", default="1400,1000", help="browser window size, width,height")
    args = ap.parse_args()

    chromium = find_binary("chromium", "/usr/bin/chromium")
    driver_path = find_binary("chromedriver", "/usr/bin/chromedriver")
    if not chromium or not driver_path:
        print("skipped: chromium or chromium-driver is not installed")
        return 77

    profile = tempfile.mkdtemp(prefix="vornhal-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    # This machine may have no network at all: nothing but the loopback dashboard is reached.
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=" + args.window, "--user-data-dir=" + profile):
        options.add_argument(flag)
    driver = None
    failures = []
    try:
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
        driver.set_page_load_timeout(30)
        wait = WebDriverWait(driver, 30)
        driver.get(args.url)

        # The page asks for the token first.
        wait.until(lambda d: d.find_element(By.ID, "token").is_displayed())
        if driver.find_element(By.ID, "dashboard").is_displayed():
            failures.append("the dashboard showed before a token was given")
        driver.find_element(By.ID, "token").send_keys(args.token)
        driver.find_element(By.ID, "login-button").click()

        row = '#players tr[data-name="%s"]' % args.player
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, row))
        # The table is redrawn when the players change: read it in one script, not element by element.
        found = driver.execute_script("""
            const tr = document.querySelector(arguments[0]);
            if (!tr) return null;
            return { cells: Array.from(tr.cells).slice(0, 5).map((td) => td.textContent),
                     kick: !!tr.querySelector('button.kick'), gm: !!tr.querySelector('button.set-gm') };
        """, row)
        print("player row:", found and found["cells"])
        if not found or not found["kick"]:
            failures.append("no kick button for the player")
        if not found or not found["gm"]:
            failures.append("no GM-level button for the player")

        on_map = '#map-object-rows tr[data-kind="chara"][data-name="%s"]' % args.player
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, on_map))
        # The map canvas shows the character at its cell, in the character colour.
        pixel = driver.execute_script("""
            const rows = document.querySelectorAll('#map-object-rows tr[data-kind="chara"]');
            let cell = null;
            for (const r of rows) if (r.dataset.name === arguments[0]) cell = r.lastChild.textContent;
            const [x, y] = cell.split(',').map(Number);
            const c = document.getElementById('map-canvas');
            const size = Number(c.dataset.cell);
            return Array.from(c.getContext('2d').getImageData((x + .5) * size, (y + .5) * size, 1, 1).data);
        """, args.player)
        print("map pixel at the player:", pixel)
        if tuple(pixel[:3]) != CHARA_RGB:
            failures.append("the map view does not show the player at its cell: %s" % pixel)

        if driver.execute_script("return sessionStorage.getItem('vornhalAdminToken')") != args.token:
            failures.append("the token is not kept for the session")
        # A reload keeps the token: no second question.
        driver.refresh()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, row))
        if driver.find_element(By.ID, "login").is_displayed():
            failures.append("the token was asked for again after a reload")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, on_map))
        if args.settle > 0:
            time.sleep(args.settle)
    except Exception as e:  # any Selenium error is a failed check, reported with its text
        failures.append("%s: %s" % (type(e).__name__, e))
    finally:
        if driver is not None:
            try:
                os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
                driver.save_screenshot(args.screenshot)
                print("screenshot:", args.screenshot)
            except Exception as e:
                failures.append("no screenshot: %s" % e)
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)

    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
