#!/usr/bin/python3
"""Reads the scenario files that tarnu-table --aslib wrote into DIR with an
ARFF reader and a YAML reader, and checks them against the table (CSV) of
the same run: every instance once, every value the table's, every status
one of ASlib's, the costs the table's times. Usage: aslib_readback.py DIR CSV"""
import csv, math, os, re, sys

import arff
import yaml

scenario, table = sys.argv[1], sys.argv[2]
rows = {re.sub(r'(\.(qdimacs|qcnf))?(\.(gz|xz|lzma|bz2|zst))?$', '', os.path.basename(r['path'])): r
        for r in csv.DictReader(open(table))}
names = list(csv.DictReader(open(table)).fieldnames)
features = names[names.index('seconds') + 1:names.index('feature_time_ms')]
tree = ['components', 'd_components', 'depth', 'exists_nodes', 'forall_nodes', 'branches', 'delta_max', 'delta_avg',
        'tree_alternations']
def load(name):
    return arff.load(open(os.path.join(scenario, name)))

def same(a, b):  # an ARFF value against the table's text; '?' is None, the table's nan or blank
    if b in ('', 'nan') or (b == '-1' and a is None):
        return a is None
    return a == float(b)

values = load('feature_values.arff')
assert [a[0] for a in values['attributes']] == ['instance_id', 'repetition'] + features + tree, values['attributes']
assert sorted(r[0] for r in values['data']) == sorted(rows), 'not every instance once'
for r in values['data']:
    row = rows[r[0]]
    for name, value in zip(features + tree, r[2:]):
        assert same(value, row[name]) or row['outcome'] != 'ok', (r[0], name, value, row[name])
status = load('feature_runstatus.arff')
assert [a[0] for a in status['attributes']] == ['instance_id', 'repetition', 'base', 'tree']
for r in status['data']:
    assert set(r[2:]) <= {'ok', 'timeout', 'memout', 'presolved', 'crash', 'other'}, r
    assert (r[2] == 'ok') == (rows[r[0]]['feature_time_ms'] != ''), r
for r in load('feature_costs.arff')['data']:
    row = rows[r[0]]
    assert row['feature_time_ms'] == '' or math.isclose(r[2], float(row['feature_time_ms']) / 1000), r
description = yaml.safe_load(open(os.path.join(scenario, 'description.txt')))
assert description['number_of_feature_steps'] == 2 and description['default_steps'] == ['base', 'tree']
assert description['feature_steps']['base']['provides'] == features
assert description['features_deterministic'] == features + tree and description['features_stochastic'] == []
print(len(values['data']), 'instances read back')
