#!/usr/bin/env python3
"""Generate null_sweep.c: one call of every public M_ function with every
pointer argument NULL and every number 0, checking the documented result.

Usage: gen_null_sweep.py OUT.c HEADER...

The documented result is read from the function's own doc comment:
  - "NULL: yields V."        the result of the all-NULL, all-zero call
                             ("NULL: yields a new ..." and "Never NULL": not NULL);
  - "<arg>: NULL yields V"   (or "NULL <arg> yields V", "V for NULL") for one
                             argument; "NULL fails": 0, NULL or M_FALSE.
V is 0, a number, NULL, M_TRUE, M_FALSE or an M_ constant. A function-level
"NULL: yields" wins; otherwise the per-argument statements must agree, and a
function whose statements disagree is called but not checked (reported on
stderr, so the comment can be given a function-level sentence). A header whose
leading comment says its functions "yield 0, NULL or M_FALSE" for NULL
arguments states that, by result type, for every function without its own.

Every argument is a zero-filled variable of its declared type: pointers and
callbacks are NULL, numbers and enums 0, structs passed by value all zero.
Results that are structs have no NULL result to state and are not compared.
Whatever a call allocates (create functions accept NULL options) is handed
to the matching destroy function, or M_free, so the leak check stays clean.
"""
import re
import sys

# Functions not called, name -> why. Those marked M_NORETURN (M_malloc_error
# aborts) or taking a va_list (the M_v*printf family, whose ... forms are
# called) are left out by their declarations. No function treats NULL as a
# precondition violation that crashes by design, so this list is empty; a
# function that came to need it would fail this sweep under ASan+UBSan.
EXCLUDED = {}

VALUE = r'(NULL|M_TRUE|M_FALSE|true|false|-?\d+|M_[A-Z][A-Z0-9_]*)(?![\w(])'
FUNC_RE = re.compile(r'\bNULL: yields (?:' + VALUE + r'|(a new)\b)|\b([Nn]ever NULL)\b')
ARG_RE = re.compile(r'\bNULL(?: \w+| or \w+(?: \d)?| \(or [^)]*\))?:? (?:yields|gives) ' + VALUE
                    + r'|\bNULL or empty is ' + VALUE + r'|\bNULL (fails)\b' + r'|\bNULL(?: or "")?: (M_[A-Z][A-Z0-9_]*)(?![\w(])'
                    r'|(?<![\w,] )\b(NULL|M_TRUE|M_FALSE|true|false|\d+) for (?:a )?NULL\b')
MODULE_RE = re.compile(r'\byields? 0, NULL or M_FALSE\b')
SCALARS = {'M_bool', 'size_t', 'ssize_t', 'int', 'unsigned', 'unsigned int', 'char', 'unsigned char',
           'long', 'double', 'M_time_t', 'M_fs_error_t'}
DESTROY_ARGS = {'M_bool': 'M_TRUE'}


def comment_text(c):
    c = re.sub(r'^/\*|\*/$', '', c)
    return ' '.join(re.sub(r'^\s*\*', '', line).strip() for line in c.splitlines())


def split_params(s):
    out, depth, cur = [], 0, ''
    for ch in s:
        if ch == ',' and depth == 0:
            out.append(cur.strip())
            cur = ''
            continue
        depth += ch in '(['
        depth -= ch in ')]'
        cur += ch
    if cur.strip():
        out.append(cur.strip())
    return [] if out == ['void'] else out


def parse(paths):
    funcs, enums = [], set()
    for path in paths:
        text = open(path).read()
        enums.update(re.findall(r'typedef enum\b[^;]*?}\s*(\w+)\s*;', text, re.S))
        enums.update(re.findall(r'typedef (?:u?int\d+_t|size_t|int) (\w+);', text))
        lead = re.search(r'/\*.*?\*/', text, re.S)
        module_rule = bool(lead and MODULE_RE.search(' '.join(lead.group(0).split())))
        last_comment, last_end = '', 0
        for m in re.finditer(r'/\*.*?\*/|^M_API\b[^;]*;', text, re.S | re.M):
            if m.group(0).startswith('/*'):
                last_comment, last_end = m.group(0), m.end()
                continue
            doc = last_comment if not text[last_end:m.start()].strip() else ''
            last_comment, last_end = doc, m.end()
            d = ' '.join(m.group(0)[len('M_API'):-1].split())
            noreturn = 'M_NORETURN' in d
            d = re.sub(r'\b(M_NORETURN|M_WARN_UNUSED_RESULT|extern)\b', '', d).strip()
            fm = re.match(r'(.*?)\b(M_\w+)\s*\((.*)\)\s*$', d)
            if not fm:
                continue
            ret, name, params = fm.group(1).strip(), fm.group(2), split_params(fm.group(3))
            funcs.append(dict(name=name, ret=' '.join(ret.replace('*', ' * ').split()).replace(' *', '*'),
                              params=params, doc=comment_text(doc), noreturn=noreturn,
                              module_rule=module_rule))
    return funcs, enums


def param_type(p):
    return re.sub(r'\s*\b\w+\s*$', '', p).strip()


def expectation(f):
    m = FUNC_RE.search(f['doc'])
    if m:
        return m.group(1) or '!NULL'
    vals = {''.join(v) for v in ARG_RE.findall(f['doc'])}
    fail = 'NULL' if f['ret'].endswith('*') else 'M_FALSE' if f['ret'] == 'M_bool' else '0'
    vals = {{'true': 'M_TRUE', 'false': 'M_FALSE', 'fails': fail}.get(v, v) for v in vals}
    if len(vals) > 1:
        print(f"null sweep: {f['name']}: NULL results disagree {sorted(vals)}; not checked", file=sys.stderr)
        return None
    if vals:
        return vals.pop()
    return fail if f['module_rule'] else None


def main():
    out, headers = sys.argv[1], sys.argv[2:]
    funcs, enums = parse(headers)
    destroy = {}
    for f in funcs:
        if re.search(r'_(destroy|cancel)$', f['name']) and f['params'] and f['params'][0].count('*') == 1:
            destroy.setdefault(param_type(f['params'][0]).replace('const ', '').replace(' ', ''), f)
    lines = ['/* Generated by tests/gen_null_sweep.py: every public M_ function with NULL',
             ' * pointers and zero numbers. Do not edit. */']
    lines += [f'#include "{h}"' for h in headers]
    lines += ['#include <stdio.h>', '#include <string.h>', '',
              'static int failures;', 'static int checked;', '',
              'static void expect(const char *name, const char *test, int ok)', '{',
              '\tchecked++;', '\tif (!ok) {', '\t\tfailures++;',
              '\t\tfprintf(stderr, "%s with NULL and 0: %s does not hold\\n", name, test);',
              '\t}', '}', '', 'int main(void)', '{']
    called = 0
    for f in funcs:
        if f['noreturn'] or f['name'] in EXCLUDED or any('va_list' in p for p in f['params']):
            continue
        called += 1
        body, args = [], []
        for i, p in enumerate(x for x in f['params'] if x != '...'):
            t = param_type(p)
            if t.startswith('const ') and '*' not in t:
                t = t[len('const '):]
            body.append(f'\t\t{t} a{i};\n\t\tmemset(&a{i}, 0, sizeof a{i});')
            args.append(f'a{i}')
        call = f"{f['name']}({', '.join(args)})"
        ret = f['ret']
        if ret == 'void':
            body.append(f'\t\t{call};')
        else:
            body.append(f'\t\t{ret} r = {call};')
            exp = expectation(f)
            comparable = ret.endswith('*') or ret in SCALARS or ret in enums or re.fullmatch(r'u?int\d+_t', ret)
            if exp and comparable:
                test = 'r != NULL' if exp == '!NULL' else f'r == {exp}'
                body.append(f'\t\texpect("{f["name"]}", "{test}", {test});')
            if ret.endswith('*') and not ret.startswith('const'):
                d = destroy.get(ret.replace(' ', ''))
                if d:
                    extra = ''.join(', ' + DESTROY_ARGS.get(param_type(p), '0') for p in d['params'][1:])
                    body.append(f"\t\t{d['name']}(r{extra});")
                elif ret == 'M_llist_node_t*':  # a node belongs to its list
                    body.append('\t\t(void)r;')
                else:
                    body.append('\t\tM_free((void *)r);')
            else:
                body.append('\t\t(void)r;')
        lines += ['\t{'] + body + ['\t}']
    lines += ['\tprintf("null sweep: %d functions called, %d results checked, %d wrong\\n", '
              f'{called}, checked, failures);', '\treturn failures != 0;', '}']
    with open(out, 'w') as fh:
        fh.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
