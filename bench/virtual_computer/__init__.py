"""The bench's virtual Windows 7 computer: a scratch Wine prefix laid out from
a declarative profile, one run of the product on it, and a report of what the
run did to the machine."""
