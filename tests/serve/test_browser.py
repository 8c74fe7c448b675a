"""The page in real headless Chromium: what a user of the meter does with it,
from the printed address to the downloaded CSV. Each view is saved as a
screenshot into $VUXOINT_SCREENSHOTS."""

import os

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from conftest import export

SHOTS = os.environ.get("VUXOINT_SCREENSHOTS", "")


@pytest.fixture
def browser():
    options = webdriver.ChromeOptions()
    for arg in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                "--window-size=1280,1000"]:
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(os.environ.get("VUXOINT_CHROMEDRIVER",
                                                             "chromedriver")), options=options)
    yield driver
    driver.quit()


def shot(driver, name: str) -> None:
    if SHOTS:
        driver.save_screenshot(os.path.join(SHOTS, f"serve-{name}.png"))


def add(driver, conn: str) -> None:
    field = driver.find_element(By.ID, "add-conn")
    field.clear()
    field.send_keys(conn)
    driver.find_element(By.CSS_SELECTOR, "#add-form button").click()


def test_a_survey_day_in_the_browser(serve, sim, browser):
    s = serve()
    meter = sim("--v2")
    wait = WebDriverWait(browser, 30)
    browser.get(s.address)
    assert "token=" not in browser.current_url

    add(browser, meter.conn)
    card = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, ".card"))
    wait.until(lambda d: "A2000456" in card.find_element(By.TAG_NAME, "h3").text)
    wait.until(lambda d: card.find_elements(By.CSS_SELECTOR, "dd[data-field=clock]"))

    card.find_element(By.CLASS_NAME, "set-clock").click()
    wait.until(lambda d: "clock set to" in card.find_element(By.CLASS_NAME, "summary").text)

    card.find_element(By.CLASS_NAME, "sync").click()
    bar = card.find_element(By.TAG_NAME, "progress")
    wait.until(lambda d: "finished" in bar.get_attribute("class"))
    assert bar.get_attribute("value") == bar.get_attribute("max")
    assert " new, 0 already held, 0 failed, 0 not fetched" in \
        card.find_element(By.CLASS_NAME, "summary").text
    wait.until(lambda d: card.find_element(By.CSS_SELECTOR, "dd[data-field='last synced']")
               .text != "never")
    shot(browser, "instruments")

    browser.find_element(By.CSS_SELECTOR, "nav button[data-view=measurements]").click()
    rows = wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#table tbody tr"))
    assert "A2000456" in rows[0].text
    csv_link = browser.find_element(By.ID, "export-csv").get_attribute("href")
    Select(browser.find_element(By.NAME, "kind")).select_by_visible_text("scan")
    browser.find_element(By.CSS_SELECTOR, "#filter button").click()
    kinds = "return [...document.querySelectorAll('#table tbody tr')].map(r => r.dataset.kind)"
    wait.until(lambda d: set(d.execute_script(kinds)) == {"2"})
    browser.find_element(By.CSS_SELECTOR, "#table tbody tr").click()
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#chart svg.profile"))
    shot(browser, "measurements")

    # The download, through the browser's own session, is what the tool writes.
    csv = browser.execute_async_script(
        "fetch(arguments[0]).then(r => r.arrayBuffer())"
        ".then(b => arguments[1](Array.from(new Uint8Array(b))))", csv_link)
    assert bytes(csv) == export(s.db)

    browser.find_element(By.CSS_SELECTOR, "nav button[data-view=report]").click()
    browser.switch_to.frame(browser.find_element(By.ID, "report-frame"))
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "svg.profile"))
    browser.switch_to.default_content()
    shot(browser, "report")

    live = sim("--v2", "--serial", "A2000789", "--measure-every", "1")
    browser.find_element(By.CSS_SELECTOR, "nav button[data-view=instruments]").click()
    add(browser, live.conn)
    browser.find_element(By.CSS_SELECTOR, "nav button[data-view=live]").click()
    row = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, "#live-table tbody tr"))
    assert "A2000789" in row.text and "stored" in row.text
    shot(browser, "live")
