<?xml version="1.0" encoding="UTF-8"?>
<!--
  squad.xsl: shows a squad file as a web page when its address is opened in
  a browser. Written by Troopbook.

  The page is plain HTML with its style sheet inside: no scripts and nothing
  fetched from elsewhere. Every value is written as text, so markup typed
  into a squad shows as typed. Links are made only to web addresses (http://
  or https://, or none given) and to mail addresses.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="no" doctype-system="about:legacy-compat"/>

  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>

  <xsl:template match="/">
    <html>
      <head>
        <meta name="viewport" content="width=device-width, initial-scale=1"/>
        <meta http-equiv="Content-Security-Policy"
              content="default-src 'none'; style-src 'unsafe-inline'"/>
        <title>
          <xsl:call-template name="heading">
            <xsl:with-param name="squad" select="squad"/>
          </xsl:call-template>
        </title>
        <style>
          body { font-family: sans-serif; margin: 2em auto; max-width: 60em; padding: 0 1em;
                 color: #1d2330; background: #f6f7f9; line-height: 1.4; }
          h1 { margin-bottom: 0.3em; overflow-wrap: anywhere; }
          h1 .tag { color: #8a2b1f; margin-right: 0.4em; }
          h2 { margin-top: 1.6em; font-size: 1.2em; }
          dl { display: grid; grid-template-columns: max-content auto; gap: 0.3em 1.2em;
               margin: 1em 0; }
          dt { font-weight: bold; }
          dd { margin: 0; overflow-wrap: anywhere; white-space: pre-wrap; }
          .note { color: #5b6270; font-size: 0.9em; }
          table { border-collapse: collapse; width: 100%; background: #fff; }
          th, td { text-align: left; vertical-align: top; padding: 0.35em 0.7em;
                   border-bottom: 1px solid #dde0e6; overflow-wrap: anywhere;
                   white-space: pre-wrap; }
          th { background: #2f3b52; color: #fff; font-weight: normal; }
          tbody tr:nth-child(even) { background: #eef0f4; }
          a { color: #1a55a8; }
          footer { margin-top: 2em; }
        </style>
      </head>
      <body>
        <xsl:apply-templates select="squad"/>
        <xsl:if test="not(squad)">
          <h1>No squad</h1>
          <p>This file holds no squad element.</p>
        </xsl:if>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="squad">
    <h1>
      <xsl:if test="normalize-space(@nick) != ''">
        <span class="tag"><xsl:value-of select="@nick"/></span>
      </xsl:if>
      <xsl:value-of select="name"/>
      <xsl:if test="normalize-space(@nick) = '' and normalize-space(name) = ''">Squad</xsl:if>
    </h1>
    <dl>
      <xsl:if test="normalize-space(email) != ''">
        <dt>E-mail</dt>
        <dd><xsl:call-template name="mail-link"><xsl:with-param name="address" select="email"/></xsl:call-template></dd>
      </xsl:if>
      <xsl:if test="normalize-space(web) != ''">
        <dt>Web</dt>
        <dd><xsl:call-template name="web-link"><xsl:with-param name="address" select="web"/></xsl:call-template></dd>
      </xsl:if>
      <xsl:if test="normalize-space(title) != ''">
        <dt>Vehicle tag</dt>
        <dd><xsl:value-of select="title"/></dd>
      </xsl:if>
      <xsl:if test="normalize-space(picture) != ''">
        <dt>Picture</dt>
        <dd><xsl:value-of select="picture"/>
          <span class="note"> (shown in the game; browsers cannot show this kind of picture)</span></dd>
      </xsl:if>
    </dl>

    <h2>
      <xsl:text>Members (</xsl:text>
      <xsl:value-of select="count(member)"/>
      <xsl:text>)</xsl:text>
    </h2>
    <xsl:choose>
      <xsl:when test="member">
        <table>
          <thead>
            <tr><th>Nick</th><th>Full name</th><th>E-mail</th><th>ICQ</th><th>Remark</th></tr>
          </thead>
          <tbody>
            <xsl:for-each select="member">
              <tr>
                <td><xsl:value-of select="@nick"/></td>
                <td><xsl:value-of select="name"/></td>
                <td><xsl:call-template name="mail-link"><xsl:with-param name="address" select="email"/></xsl:call-template></td>
                <td><xsl:value-of select="icq"/></td>
                <td><xsl:value-of select="remark"/></td>
              </tr>
            </xsl:for-each>
          </tbody>
        </table>
      </xsl:when>
      <xsl:otherwise>
        <p>The squad has no members yet.</p>
      </xsl:otherwise>
    </xsl:choose>
    <footer class="note">This page shows the squad file through squad.xsl; the game reads the file itself.</footer>
  </xsl:template>

  <!-- The browser's title: the tag and the name, or "Squad" for neither. -->
  <xsl:template name="heading">
    <xsl:param name="squad"/>
    <xsl:variable name="text" select="normalize-space(concat($squad/@nick, ' ', $squad/name))"/>
    <xsl:choose>
      <xsl:when test="$text != ''"><xsl:value-of select="$text"/></xsl:when>
      <xsl:otherwise>Squad</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="mail-link">
    <xsl:param name="address"/>
    <xsl:variable name="trimmed" select="normalize-space($address)"/>
    <xsl:if test="$trimmed != ''">
      <a href="mailto:{$trimmed}"><xsl:value-of select="$address"/></a>
    </xsl:if>
  </xsl:template>

  <!-- A web address links with http:// put in front when it names no scheme. One that names
       another scheme (javascript:, data:, ftp://) is shown as text only. "host:8080/..." names a
       port, not a scheme. -->
  <xsl:template name="web-link">
    <xsl:param name="address"/>
    <xsl:variable name="trimmed" select="normalize-space($address)"/>
    <xsl:variable name="folded" select="translate($trimmed, $upper, $lower)"/>
    <xsl:variable name="before-colon" select="substring-before($folded, ':')"/>
    <xsl:variable name="after-colon" select="substring-after($folded, ':')"/>
    <xsl:variable name="names-scheme"
                  select="contains($folded, ':') and $before-colon != ''
                          and translate($before-colon, 'abcdefghijklmnopqrstuvwxyz0123456789+-', '') = ''
                          and not(contains('0123456789', substring($after-colon, 1, 1)) and $after-colon != '')"/>
    <xsl:choose>
      <xsl:when test="starts-with($folded, 'http://') or starts-with($folded, 'https://')">
        <a href="{$trimmed}"><xsl:value-of select="$address"/></a>
      </xsl:when>
      <xsl:when test="$names-scheme">
        <xsl:value-of select="$address"/>
      </xsl:when>
      <xsl:otherwise>
        <a href="http://{$trimmed}"><xsl:value-of select="$address"/></a>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
