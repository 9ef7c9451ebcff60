"""A fault profile's survey: the faults the computer had, and which effects of
the run came out exactly as on the default computer (its expected facts) and
which did not."""

from . import profiles

REFERENCE_PROFILE = "default"


def _settings(report):
    return report["settings_key"]["after"]


# Each effect of a run, as the facts that show it.
EFFECTS = (
    ("exit code", lambda r: r["run"]["exit_code"]),
    ("installer started", lambda r: r["makers_components_received"]["installer_command_line"]),
    ("end marker logged", lambda r: r["installer_session"]["pass_reached_end_marker"]),
    ("machine ID recorded", lambda r: _settings(r).get("MachineID")),
    ("wireless adapter recorded", lambda r: [r["wireless"]["WLANID"], r["wireless"]["Msg"]]),
    ("maker's script run", lambda r: [p["event"] for p in r["processes"]
                                      if p["program"] == "Vireo_Win7.vbs"]),
    ("class paths recorded", lambda r: {name: value for name, value in _settings(r).items()
                                        if name.startswith(("Control-", "Current-"))}),
    ("wake-on-LAN on the script's adapters", lambda r: {key: values["after"]
                                                        for key, values in r["class_keys"].items()}),
    ("Balanced scheme configured and active", lambda r: r["balanced_scheme"]["after"]),
    ("every powercfg command launched", lambda r: [c["parameters"]
                                                   for c in r["powercfg_commands"]]),
    ("activity log", lambda r: [entry["text"] for entry in r["log"]["entries"]]),
)


def survey(report: dict, faults, reference=None) -> dict:
    """{"had": the faults, "intact": effects as on the default computer,
    "changed": the others}."""
    reference = reference if reference is not None else \
        profiles.expected_facts(REFERENCE_PROFILE)
    intact, changed = [], []
    for name, facts_of in EFFECTS:
        (intact if facts_of(report) == facts_of(reference) else changed).append(name)
    return {"had": list(faults), "intact": intact, "changed": changed}
